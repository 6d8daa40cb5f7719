// The globe page: the demo globe with the building site on it. The calls, the log and the page
// functions modelPsotion and changepostion (which log what the viewer reports) come from demo.js.
"use strict";

// globe/site.json, written by the site generator: the earth file, where the building stands, the
// site's feature layer and the named viewpoints. Read at once; the controls that use it are set up
// once the page is parsed too.
var site = null;
var pageParsed = new Promise(function (resolve) {
  document.addEventListener("DOMContentLoaded", resolve);
});
var siteRead = fetch(siteUrl("globe/site.json")).then(function (response) {
  if (!response.ok) {
    throw new Error("globe/site.json: " + response.status);
  }
  return response.json();
});
var siteReady = Promise.all([siteRead, pageParsed]).then(function (results) {
  site = results[0];
  field("layer-name").value = site.layer.name;
  field("layer-style").value = JSON.stringify(site.layer.style, null, 1);
  listViewpoints();
}, function (error) {
  log("cannot read the site description: " + error.message);
});

function globeUrl(name) {
  return siteUrl("globe/" + name);
}

// Called by the viewer element once it is ready.
function globeLoaded(element) {
  viewerReady(element);
  siteReady.then(function () {
    if (site && autoplayWanted()) {
      showSite();
    }
  });
}

// What a visitor sees first: the globe, the building with its schedule playing, the site's layer,
// and a flight down to the site.
function showSite() {
  if (!site) {
    log("the site description is not read yet");
    return;
  }
  call("loadearthfile", function (p) { return p.loadearthfile(globeUrl(site.earthFile)); });
  var position = site.building.position;
  var turn = site.building.orientation;
  var placed = call("loadProgressControlToEarth", function (p) {
    return p.loadProgressControlToEarth(modelUrl, encodeURIComponent(siteUrl("tasks.json")),
                                        encodeURIComponent(siteUrl("binding.json")),
                                        position[0], position[1], position[2], turn[0], turn[1], turn[2]);
  });
  if (placed) {
    call("setProgressControlMode(3)", function (p) { return p.setProgressControlMode(3); });
    call("setProgressControlSpeed(10)", function (p) { return p.setProgressControlSpeed(10); });
    call("startProgressControl", function (p) { return p.startProgressControl(); });
  }
  createLayer();
  addSiteFeatures();
  applyReports();
  flyTo(findPlace("Building site") || site.viewpoints[0]);
}

function findPlace(name) {
  return site.viewpoints.filter(function (place) { return place.name === name; })[0];
}

function flyTo(place) {
  call("setviewpoint " + place.name, function (p) { return p.setviewpoint(JSON.stringify(place.viewpoint)); });
}

function layerName() {
  return field("layer-name").value.trim();
}

function createLayer() {
  var name = layerName();
  var style = field("layer-style").value;
  call("createlayer(" + name + ")", function (p) { return p.createlayer(name, style); });
}

// The features are read when asked for, so each click adds a fresh copy.
function addSiteFeatures() {
  var name = layerName();
  var file = site.layer.features;
  fetch(globeUrl(file)).then(function (response) {
    if (!response.ok) {
      throw new Error(String(response.status));
    }
    return response.text();
  }).then(function (text) {
    call("addfeatures(" + name + ", " + file + ")", function (p) { return p.addfeatures(name, text); });
  }, function (error) {
    log("cannot read " + file + ": " + error.message);
  });
}

function applyReports() {
  var picks = field("picks").checked;
  var camera = field("camera-reports").checked;
  call("querymodelinfo(" + picks + ")", function (p) { return p.querymodelinfo(picks); });
  call("enablepostinTomap2d(" + camera + ")", function (p) { return p.enablepostinTomap2d(camera); });
}

function listViewpoints() {
  var list = field("viewpoints");
  site.viewpoints.forEach(function (place) {
    var button = document.createElement("button");
    button.textContent = place.name;
    button.addEventListener("click", function () { flyTo(place); });
    list.appendChild(button);
  });
}

function wireGlobe() {
  on("show-site", "click", showSite);
  on("get-viewpoint", "click", function () {
    call("getviewpoint", function (p) { return p.getviewpoint(); });
  });
  on("get-camera", "click", function () {
    call("getcamerapostion", function (p) { return p.getcamerapostion(); });
  });
  on("picks", "change", applyReports);
  on("camera-reports", "change", applyReports);
}

function wireLayer() {
  on("create-layer", "click", createLayer);
  on("add-features", "click", addSiteFeatures);
  on("remove-feature", "click", function () {
    var name = layerName();
    var id = field("feature-id").value.trim();
    call("removefeature(" + name + ", " + id + ")", function (p) { return p.removefeature(name, id); });
  });
  on("show-layer", "click", function () {
    var name = layerName();
    call("showlayer(" + name + ", true)", function (p) { return p.showlayer(name, true); });
  });
  on("hide-layer", "click", function () {
    var name = layerName();
    call("showlayer(" + name + ", false)", function (p) { return p.showlayer(name, false); });
  });
  on("remove-layer", "click", function () {
    var name = layerName();
    call("removelayer(" + name + ")", function (p) { return p.removelayer(name); });
  });
}

document.addEventListener("DOMContentLoaded", function () {
  wirePlayback();
  wireGlobe();
  wireLayer();
});
