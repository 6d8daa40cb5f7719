// The demo page's controls: each one calls a method of the viewer element and logs the outcome.
// The same page shows a user's own project: project.json beside it names the model, its
// schedule and the title. The globe page (globe.js) uses the helpers and page functions here too.
"use strict";

var plugin = null;
var MAX_LOG_LINES = 300;

// The site's files, addressed next to this page so the viewer fetches them from the same server.
function siteUrl(name) {
  return new URL(name, location.href).href;
}

// What the page shows: the demo building unless project.json says otherwise. A site without
// that file (one written before it existed) is the demo.
var DEMO_PROJECT = {
  kind: "demo", title: "Veltra demo", model: "building.osgt", modelNode: "Building",
  tasks: "tasks.json", binding: "binding.json", mode: 3,
};
var project = DEMO_PROJECT;
var modelUrl = siteUrl(DEMO_PROJECT.model);
var tasksUrl = siteUrl(DEMO_PROJECT.tasks);
var bindingUrl = siteUrl(DEMO_PROJECT.binding);

// File names travel in addresses: a blank or "#" in a user's file name must not cut them short.
function fileUrl(name) {
  return siteUrl(encodeURIComponent(name));
}

function useProject(description) {
  project = description;
  modelUrl = fileUrl(project.model);
  tasksUrl = project.tasks ? fileUrl(project.tasks) : null;
  bindingUrl = project.binding ? fileUrl(project.binding) : null;
  if (project.kind === "project" && field("title")) {
    document.title = project.title + " - Veltra";
    field("title").textContent = project.title;
    field("intro").textContent = "The model " + project.model +
      (tasksUrl ? " with its construction schedule, which starts playing once the viewer is ready" : "") +
      " (add ?autoplay=0 to the address to start empty). Drag to turn the view, use the wheel to zoom.";
  }
}

var projectReady = fetch(siteUrl("project.json"), { cache: "no-store" }).then(function (response) {
  if (response.status === 404) {
    return DEMO_PROJECT;
  }
  if (!response.ok) {
    throw new Error("HTTP " + response.status);
  }
  return response.json();
}).then(function (description) {
  if (!description || typeof description.model !== "string" || description.model === "") {
    throw new Error("it names no model");
  }
  whenParsed(function () { useProject(description); });
  return true;
}, function (error) {
  whenParsed(function () {
    showProblem("Could not read project.json (" + error.message + ") — see the host's output");
  });
  return false;
});

function whenParsed(action) {
  if (document.readyState === "loading") {
    document.addEventListener("DOMContentLoaded", action);
  } else {
    action();
  }
}

// A problem the visitor must see: a banner above the viewer, and a line in the log.
function showProblem(text) {
  var banner = field("banner");
  if (banner) {
    banner.textContent = text;
    banner.hidden = false;
  }
  log(text);
}

function clearProblem() {
  var banner = field("banner");
  if (banner) {
    banner.hidden = true;
    banner.textContent = "";
  }
}

// Resolves with the first of the site's files that the server does not have, as
// { name, status }, or null when all are there.
function firstMissing(names) {
  return Promise.all(names.map(function (name) {
    return fetch(fileUrl(name), { method: "HEAD", cache: "no-store" }).then(function (response) {
      return response.ok ? null : { name: name, status: response.status };
    }, function (error) {
      return { name: name, status: error.message };
    });
  })).then(function (answers) {
    return answers.filter(Boolean)[0] || null;
  });
}

function log(text) {
  var area = document.getElementById("log");
  if (!area) {
    return;
  }
  var stamp = new Date().toTimeString().slice(0, 8);
  var lines = area.textContent ? area.textContent.split("\n") : [];
  lines.push(stamp + "  " + text);
  if (lines.length > MAX_LOG_LINES) {
    lines = lines.slice(lines.length - MAX_LOG_LINES);
  }
  area.textContent = lines.join("\n");
  area.scrollTop = area.scrollHeight;
}

// Runs one call on the viewer and logs its result, or why it could not run.
function call(label, action) {
  if (!plugin) {
    log(label + ": the viewer is not ready yet");
    return undefined;
  }
  try {
    var result = action(plugin);
    log(label + (result === undefined ? "" : " -> " + JSON.stringify(result)));
    return result;
  } catch (error) {
    log(label + " failed: " + (error && error.message ? error.message : error));
    return undefined;
  }
}

function field(id) {
  return document.getElementById(id);
}

function on(id, eventName, handler) {
  var element = field(id);
  if (element) {
    element.addEventListener(eventName, handler);
  }
}

// Both pages: keeps the viewer element and logs the schedule's date changes.
function viewerReady(element) {
  plugin = element || field("plugin");
  log("viewer ready, version " + plugin.version);
  try {
    plugin.addEventListener("dateChanged", function (today, planCurrent, actualCurrent) {
      log("ondateChanged " + today + "  plan: [" + planCurrent + "]  actual: [" + actualCurrent + "]");
      if (field("today")) {
        field("today").value = today;
      }
    });
  } catch (error) {
    log("cannot listen to dateChanged: " + error.message);
  }
}

// A page starts its demo by itself unless its address says ?autoplay=0.
function autoplayWanted() {
  return new URLSearchParams(location.search).get("autoplay") !== "0";
}

// Called by the viewer element of the first page once it is ready.
function pluginLoaded(element) {
  viewerReady(element);
  projectReady.then(function (readable) {
    if (readable && autoplayWanted()) {
      playDemo();
    }
  });
}

function scheduleFiles() {
  return tasksUrl ? [project.tasks, project.binding] : [];
}

// What a visitor sees first: the model, framed, with its schedule playing (the demo compares plan
// against actual; a project plays its plan). Whatever cannot be loaded is named in the banner.
function playDemo() {
  clearProblem();
  return firstMissing([project.model].concat(scheduleFiles())).then(function (missing) {
    if (missing) {
      showProblem("Could not load " + missing.name + " — the file is missing on the site (" + missing.status +
                  ") — see the host's output");
      return false;
    }
    return showModel();
  });
}

function showModel() {
  call("loadfile", function (p) { return p.loadfile(modelUrl); });
  if (!tasksUrl) {
    // loadfile answers its argument whatever happens; a model in the scene is what tells.
    if (!call("setModelVisible", function (p) { return p.setModelVisible(project.modelNode || "", true, ""); })) {
      showProblem("Could not load " + project.model + " — see the host's output");
      return false;
    }
    call("home", function (p) { return p.home(); });
    return true;
  }
  var loaded = call("loadProgressControl", function (p) {
    return p.loadProgressControl(modelUrl, encodeURIComponent(tasksUrl), encodeURIComponent(bindingUrl));
  });
  if (!loaded) {
    var modelShown = call("setModelVisible", function (p) { return p.setModelVisible(project.modelNode || "", true, ""); });
    showProblem(modelShown
      ? "Could not load the schedule of " + project.model + " (" + scheduleFiles().join(", ") + ") — see the host's output"
      : "Could not load " + project.model + " — see the host's output");
    return false;
  }
  call("home", function (p) { return p.home(); });
  var mode = project.mode || 1;
  call("setProgressControlMode(" + mode + ")", function (p) { return p.setProgressControlMode(mode); });
  field("mode").value = String(mode);
  call("setProgressControlSpeed(10)", function (p) { return p.setProgressControlSpeed(10); });
  call("startProgressControl", function (p) { return p.startProgressControl(); });
  return true;
}

// Reports the viewer sends by calling page functions; their names are fixed by the viewer.
function getAttr(id) {
  log("getAttr: part " + id);
}

function modelPsotion(text) {
  log("modelPsotion: " + text);
}

function changepostion(lon, lat, level) {
  log("changepostion: " + lon + ", " + lat + ", level " + level);
}

function wireModel() {
  on("load-model", "click", function () {
    call("loadfile", function (p) { return p.loadfile(modelUrl); });
  });
  on("load-schedule", "click", function () {
    if (!tasksUrl) {
      log("this model has no schedule");
      return;
    }
    call("loadProgressControl", function (p) {
      return p.loadProgressControl(modelUrl, encodeURIComponent(tasksUrl), encodeURIComponent(bindingUrl));
    });
  });
  on("home", "click", function () {
    call("home", function (p) { return p.home(); });
  });
}

function wirePlayback() {
  on("play", "click", function () {
    call("startProgressControl", function (p) { return p.startProgressControl(); });
  });
  on("pause", "click", function () {
    call("pauseProgressControl(true)", function (p) { return p.pauseProgressControl(true); });
  });
  on("resume", "click", function () {
    call("pauseProgressControl(false)", function (p) { return p.pauseProgressControl(false); });
  });
  on("stop", "click", function () {
    call("stopProgressControl", function (p) { return p.stopProgressControl(); });
  });
  on("state", "click", function () {
    call("getProgressControlState", function (p) { return p.getProgressControlState(); });
    call("getProgressControlMode", function (p) { return p.getProgressControlMode(); });
    call("getProgressControlSpeed", function (p) { return p.getProgressControlSpeed(); });
    call("getProgressControlLoop", function (p) { return p.getProgressControlLoop(); });
  });
  on("mode", "change", function () {
    var mode = Number(field("mode").value);
    call("setProgressControlMode(" + mode + ")", function (p) { return p.setProgressControlMode(mode); });
  });
  on("set-speed", "click", function () {
    var speed = Number(field("speed").value);
    call("setProgressControlSpeed(" + speed + ")", function (p) { return p.setProgressControlSpeed(speed); });
  });
  on("loop", "change", function () {
    var loop = field("loop").checked;
    call("setProgressControlLoop(" + loop + ")", function (p) { return p.setProgressControlLoop(loop); });
  });
}

function wireDates() {
  on("get-today", "click", function () {
    var today = call("getProgressControlToday", function (p) { return p.getProgressControlToday(); });
    if (typeof today === "string") {
      field("today").value = today;
    }
  });
  on("set-today", "click", function () {
    var today = field("today").value.trim();
    call("setProgressControlToday(" + today + ")", function (p) { return p.setProgressControlToday(today); });
  });
  on("get-range", "click", function () {
    var range = call("getProgressControlRange", function (p) { return p.getProgressControlRange(); });
    if (typeof range === "string") {
      var parts = range.split(",");
      field("range-start").value = parts[0] || "";
      field("range-end").value = parts[1] || "";
    }
  });
  on("set-range", "click", function () {
    var start = field("range-start").value.trim();
    var end = field("range-end").value.trim();
    call("setProgressControlRange(" + start + ", " + end + ")",
         function (p) { return p.setProgressControlRange(start, end); });
  });
}

function wireLook() {
  on("alpha", "change", function () {
    var alpha = Number(field("alpha").value);
    field("alpha-value").textContent = String(alpha);
    call("setProgressControlAllAlpha(" + alpha + ")", function (p) { return p.setProgressControlAllAlpha(alpha); });
  });
  on("show", "click", function () { showParts(true); });
  on("hide", "click", function () { showParts(false); });
  on("add-sky", "click", function () {
    var path = field("sky").value.trim();
    call("addSkyBox(" + path + ")", function (p) { return p.addSkyBox(path); });
  });
  on("add-background", "click", function () {
    var path = field("background").value.trim();
    call("addbackground(" + path + ")", function (p) { return p.addbackground(path); });
  });
}

// The viewer URL-decodes both names, so they go encoded.
function showParts(visible) {
  var pattern = field("pattern").value;
  var node = project.modelNode || "";
  call("setModelVisible(" + node + ", " + visible + ", " + pattern + ")", function (p) {
    return p.setModelVisible(encodeURIComponent(node), visible, encodeURIComponent(pattern));
  });
}

function wireSelection() {
  on("selector", "change", function () {
    var active = field("selector").checked;
    call("switchModelSelector(" + active + ")", function (p) { return p.switchModelSelector(active); });
  });
  on("get-selection", "click", function () {
    var ids = call("getModelSelects", function (p) { return p.getModelSelects(); });
    var list = field("selection");
    list.textContent = "";
    if (typeof ids === "string" && ids !== "") {
      ids.split(",").forEach(function (id) {
        var item = document.createElement("li");
        item.textContent = id;
        list.appendChild(item);
      });
    }
  });
  on("clear-selection", "click", function () {
    call("clearModelSelector", function (p) { return p.clearModelSelector(); });
    field("selection").textContent = "";
  });
}

document.addEventListener("DOMContentLoaded", function () {
  on("clear-log", "click", function () { field("log").textContent = ""; });
  log("page ready; waiting for the viewer");
  // The rest are the first page's controls; the globe page wires its own (globe.js).
  if (!field("load-model")) {
    return;
  }
  field("sky").value = siteUrl("sky/");
  field("background").value = siteUrl("background.png");
  wireModel();
  wirePlayback();
  wireDates();
  wireLook();
  wireSelection();
});
