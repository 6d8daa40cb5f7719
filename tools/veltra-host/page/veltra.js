// veltra.js, served by veltra-host with the run's secret in it. Each
// <object type="application/x-veltra"> of the page becomes a plug-in instance in the host: the
// element shows the instance's picture on a canvas inside it, forwards input on that canvas, and
// becomes the scriptable object itself (element.loadfile(...), element.version, ...).
//
// Calls from the page are synchronous, as script expects of a plug-in: each is a synchronous POST
// to /bridge. While one runs, the plug-in may call back into the page (events, console lines,
// evaluated script): those calls come back as the reply, are run here, and their answers continue
// the same request until its result arrives. Calls the plug-in makes at other times arrive over the
// WebSocket, which also carries pictures, input and object releases.
(function () {
  "use strict";

  var SECRET = "%SECRET%";
  var MIME = "application/x-veltra";
  var WINDOW_HANDLE = 1;

  if (window.__veltraHost) {
    return; // included twice
  }

  var socket = null;
  var pageId = 0;
  var lastElement = 0;
  var elements = new Map(); // element number -> element state, until created
  var instances = new Map(); // instance number -> element state

  // ---------------------------------------------------------------- page objects the host holds
  // The host names page objects by handle. Every handle this page sends counts one reference; the
  // host gives each back with a "release" message.
  var handles = new Map([[WINDOW_HANDLE, { object: window, refs: Infinity }]]);
  var handleOf = new Map([[window, WINDOW_HANDLE]]);
  var lastHandle = WINDOW_HANDLE;

  function giveHandle(object) {
    var handle = handleOf.get(object);
    if (handle === undefined) {
      handle = ++lastHandle;
      handleOf.set(object, handle);
      handles.set(handle, { object: object, refs: 0 });
    }
    handles.get(handle).refs += 1;
    return handle;
  }

  function releaseHandle(handle) {
    var entry = handles.get(handle);
    if (!entry) {
      return;
    }
    entry.refs -= 1;
    if (entry.refs <= 0) {
      handles.delete(handle);
      handleOf.delete(entry.object);
    }
  }

  function pageObject(handle) {
    var entry = handles.get(handle);
    if (!entry) {
      throw new Error("veltra: the host named an unknown page object " + handle);
    }
    return entry.object;
  }

  // ---------------------------------------------------------------- plug-in objects the page holds
  // Each id the host sends counts one reference, given back when the page lets go of the object.
  var elementOfObject = new Map(); // object id -> element that stands for it
  var objectOfElement = new WeakMap(); // element -> object id
  var proxies = new Map(); // object id -> { ref: WeakRef, token }
  var proxyIds = new WeakMap(); // proxy -> object id
  var released = typeof FinalizationRegistry === "function"
    ? new FinalizationRegistry(function (token) {
        var current = proxies.get(token.id);
        if (current && current.token === token) {
          proxies.delete(token.id);
        }
        send({ op: "releaseObject", id: token.id, count: token.held });
      })
    : null;

  function pluginObject(id) {
    var element = elementOfObject.get(id);
    if (element) {
      // The element already holds its object; further references go straight back.
      send({ op: "releaseObject", id: id, count: 1 });
      return element;
    }
    var known = proxies.get(id);
    var proxy = known && known.ref.deref();
    if (proxy) {
      known.token.held += 1;
      return proxy;
    }
    var token = { id: id, held: 1 };
    proxy = makeProxy(id);
    proxies.set(id, { ref: new WeakRef(proxy), token: token });
    if (released) {
      released.register(proxy, token);
    }
    return proxy;
  }

  // A plug-in object other than an element's: a callable stand-in whose members reach the plug-in.
  function makeProxy(id) {
    var members = null;
    function memberList() {
      if (!members) {
        members = call({ kind: "members", object: id });
      }
      return members;
    }
    var proxy = new Proxy(function () {}, {
      get: function (target, name) {
        if (typeof name !== "string") {
          return undefined;
        }
        var list = memberList();
        if (list.methods.indexOf(name) >= 0 || name === "addEventListener" || name === "removeEventListener") {
          return function () {
            return call({ kind: "invoke", object: id, name: name, args: encodeAll(arguments) });
          };
        }
        if (list.properties.indexOf(name) >= 0) {
          return call({ kind: "getProperty", object: id, name: name });
        }
        return undefined;
      },
      set: function (target, name, value) {
        if (typeof name !== "string") {
          return false;
        }
        call({ kind: "setProperty", object: id, name: name, value: encode(value) });
        return true;
      },
      has: function (target, name) {
        var list = memberList();
        return typeof name === "string" && (list.methods.indexOf(name) >= 0 || list.properties.indexOf(name) >= 0);
      },
      apply: function (target, self, args) {
        return call({ kind: "invokeDefault", object: id, args: encodeAll(args) });
      }
    });
    proxyIds.set(proxy, id);
    return proxy;
  }

  // ---------------------------------------------------------------- values on the wire
  function encode(value) {
    switch (typeof value) {
      case "undefined":
      case "symbol":
        return { $: "void" };
      case "boolean":
      case "string":
        return value;
      case "number":
        return Number.isFinite(value) ? value : null;
      case "bigint":
        return Number(value);
    }
    if (value === null) {
      return null;
    }
    var id = proxyIds.get(value) || objectOfElement.get(value);
    if (id) {
      return { $: "plugin", id: id };
    }
    return { $: "page", handle: giveHandle(value) };
  }

  function encodeAll(values) {
    return Array.prototype.map.call(values, encode);
  }

  function decode(wire) {
    if (wire === null || typeof wire !== "object") {
      return wire;
    }
    switch (wire.$) {
      case "void":
        return undefined;
      case "page":
        return pageObject(wire.handle);
      case "plugin":
        return pluginObject(wire.id);
    }
    throw new Error("veltra: the host sent a malformed value");
  }

  // ---------------------------------------------------------------- calls into the plug-in
  // Texts this long or longer travel "in parts": beside the JSON of a call or reply instead of
  // inside it, as raw UTF-8 after a line feed, each standing in the JSON as
  // {$: "text", part: K, length: N} (N in UTF-16 units, as strings count). Neither side then
  // escapes or unescapes a megabyte text, and the reply's texts are cut out without copying.
  var PARTS = "application/x-veltra-parts";
  var LIFTED_LENGTH = 4096;

  function post(message) {
    var parts = [];
    var json = JSON.stringify(message, function (key, value) {
      if (typeof value === "string" && value.length >= LIFTED_LENGTH) {
        parts.push(value);
        return { $: "text", part: parts.length - 1, length: value.length };
      }
      return value;
    });
    var request = new XMLHttpRequest();
    request.open("POST", "/bridge", false);
    request.setRequestHeader("X-Veltra-Secret", SECRET);
    request.setRequestHeader("Accept", PARTS + ", application/json");
    if (parts.length) {
      request.setRequestHeader("Content-Type", PARTS + "; charset=utf-8");
      // As a Blob: Chromium uploads one at memory speed, but a string body of megabytes in
      // small pieces, ten times slower.
      request.send(new Blob([json, "\n"].concat(parts)));
    } else {
      request.setRequestHeader("Content-Type", "application/json");
      request.send(json);
    }
    if (request.status !== 200) {
      throw new Error("veltra: the host refused the call (" + request.status + " " + request.responseText.trim() + ")");
    }
    return readReply(request);
  }

  function readReply(request) {
    var text = request.responseText;
    var type = (request.getResponseHeader("Content-Type") || "").split(";")[0].trim().toLowerCase();
    if (type !== PARTS) {
      return JSON.parse(text);
    }
    var end = text.indexOf("\n");
    var places = [];
    var reply = JSON.parse(end < 0 ? text : text.slice(0, end), function (key, value) {
      if (value && typeof value === "object" && value.$ === "text") {
        places.push({ holder: this, key: key, part: value.part, length: value.length });
      }
      return value;
    });
    places.sort(function (a, b) { return a.part - b.part; });
    var at = end + 1;
    places.forEach(function (place, index) {
      if (end < 0 || place.part !== index || !(place.length >= 0) || at + place.length > text.length) {
        throw new Error("veltra: the host sent a malformed reply");
      }
      place.holder[place.key] = text.slice(at, at + place.length);
      at += place.length;
    });
    if (end >= 0 && at !== text.length) {
      throw new Error("veltra: the host sent a malformed reply");
    }
    return reply;
  }

  function call(request) {
    if (!pageId) {
      throw new Error("veltra: not connected to the host");
    }
    var reply = post({ page: pageId, op: "call", call: request });
    while (reply.call) {
      // The plug-in needs the page before it can finish: answer, and the request goes on.
      var answer = runHostCall(reply.call.call);
      answer.page = pageId;
      answer.op = "answer";
      answer.conversation = reply.conversation;
      answer.id = reply.call.id;
      reply = post(answer);
    }
    if (!reply.ok) {
      throw new Error(reply.error);
    }
    return decode(reply.value);
  }

  // ---------------------------------------------------------------- calls from the plug-in
  function runHostCall(request) {
    try {
      return { ok: true, value: hostCall(request) };
    } catch (error) {
      return { ok: false, error: error && error.message !== undefined ? String(error.message) : String(error) };
    }
  }

  function decodeAll(values) {
    return (values || []).map(decode);
  }

  function hostCall(request) {
    var target;
    switch (request.kind) {
      case "window":
        return encode(window);
      case "evaluate":
        return encode((0, eval)(request.script));
      case "invoke":
        target = pageObject(request.handle);
        if (typeof target[request.name] !== "function") {
          throw new TypeError(request.name + " is not a function");
        }
        return encode(target[request.name].apply(target, decodeAll(request.args)));
      case "invokeDefault":
        target = pageObject(request.handle);
        if (typeof target !== "function") {
          throw new TypeError("the object is not a function");
        }
        return encode(target.apply(null, decodeAll(request.args)));
      case "getProperty":
        return encode(pageObject(request.handle)[request.name]);
      case "setProperty":
        pageObject(request.handle)[request.name] = decode(request.value);
        return { $: "void" };
      case "hasMethod":
        return typeof pageObject(request.handle)[request.name] === "function";
      case "hasProperty":
        return request.name in Object(pageObject(request.handle));
    }
    throw new Error("veltra: unknown call from the host: " + request.kind);
  }

  // ---------------------------------------------------------------- elements
  function send(message) {
    if (socket && socket.readyState === WebSocket.OPEN) {
      socket.send(JSON.stringify(message));
    }
  }

  function dimension(element, name, fallback) {
    var given = parseInt(element.getAttribute(name), 10);
    if (given > 0) {
      return given;
    }
    var box = element.getBoundingClientRect();
    var measured = Math.round(name === "width" ? box.width : box.height);
    return measured > 0 ? measured : fallback;
  }

  function elementArgs(element) {
    var args = [];
    Array.prototype.forEach.call(element.attributes, function (attribute) {
      args.push([attribute.name, attribute.value]);
    });
    Array.prototype.forEach.call(element.querySelectorAll("param"), function (param) {
      if (param.parentElement === element && param.name) {
        args.push([param.name, param.value || ""]);
      }
    });
    return args;
  }

  function start(element) {
    if (element.__veltra) {
      return;
    }
    var number = ++lastElement;
    var state = { element: element, number: number, instance: 0, objectId: 0, canvas: null, drawing: null };
    element.__veltra = state;
    var width = dimension(element, "width", 300);
    var height = dimension(element, "height", 150);
    var canvas = document.createElement("canvas");
    canvas.width = width;
    canvas.height = height;
    canvas.tabIndex = 0;
    canvas.className = "veltra-view";
    canvas.style.display = "block";
    canvas.style.outline = "none";
    // An object element without a handler for its type shows its content: the canvas.
    element.appendChild(canvas);
    state.canvas = canvas;
    elements.set(number, state);
    send({ op: "create", element: number, mime: MIME, width: width, height: height, args: elementArgs(element) });
  }

  function startIfPlugin(element) {
    if (element.tagName === "OBJECT" && (element.getAttribute("type") || "").toLowerCase() === MIME) {
      start(element);
    }
  }

  // Elements added later start their instance; an element taken out of the page ends its instance,
  // as a browser unloads a plug-in whose element leaves the document.
  function watchElements() {
    new MutationObserver(function (records) {
      records.forEach(function (record) {
        record.addedNodes.forEach(function (node) {
          if (node.nodeType === Node.ELEMENT_NODE) {
            startIfPlugin(node);
            node.querySelectorAll("object").forEach(startIfPlugin);
          }
        });
        record.removedNodes.forEach(function (node) {
          if (node.nodeType !== Node.ELEMENT_NODE) {
            return;
          }
          [node].concat(Array.prototype.slice.call(node.querySelectorAll("object"))).forEach(function (element) {
            var state = element.__veltra;
            if (state && state.instance && !element.isConnected) {
              send({ op: "destroy", instance: state.instance });
            }
          });
        });
      });
    }).observe(document.documentElement, { childList: true, subtree: true });
  }

  function adopt(state, created) {
    var element = state.element;
    var id = created.object && created.object.$ === "plugin" ? created.object.id : 0;
    state.instance = created.instance;
    state.objectId = id;
    instances.set(created.instance, state);
    if (!id) {
      return;
    }
    elementOfObject.set(id, element);
    objectOfElement.set(element, id);
    (created.members.methods || []).forEach(function (name) {
      Object.defineProperty(element, name, {
        configurable: true,
        writable: true,
        value: function () {
          return call({ kind: "invoke", object: id, name: name, args: encodeAll(arguments) });
        }
      });
    });
    (created.members.properties || []).forEach(function (name) {
      Object.defineProperty(element, name, {
        configurable: true,
        get: function () {
          return call({ kind: "getProperty", object: id, name: name });
        },
        set: function (value) {
          call({ kind: "setProperty", object: id, name: name, value: encode(value) });
        }
      });
    });
    // Plug-in events ("dateChanged" for "ondateChanged") reach listeners with the event's own
    // arguments; the element's DOM events still work as before, and this script's own
    // (veltrapicture, veltraerror, veltracrash) stay in the page.
    ["addEventListener", "removeEventListener"].forEach(function (method) {
      Object.defineProperty(element, method, {
        configurable: true,
        writable: true,
        value: function (type, listener, options) {
          if (typeof listener === "function" && state.instance && !/^veltra/.test(String(type))) {
            try {
              call({ kind: "invoke", object: id, name: method, args: [String(type), encode(listener), false] });
            } catch (error) {
              console.warn("veltra: " + method + "(" + type + ") failed: " + error.message);
            }
          }
          return HTMLElement.prototype[method].call(element, type, listener, options);
        }
      });
    });
    listenForInput(state);
  }

  function forget(state) {
    instances.delete(state.instance);
    elementOfObject.delete(state.objectId);
    state.instance = 0;
  }

  // ---------------------------------------------------------------- input
  function listenForInput(state) {
    var canvas = state.canvas;
    function at(event) {
      var box = canvas.getBoundingClientRect();
      return {
        x: Math.round((event.clientX - box.left) * (canvas.width / (box.width || 1))),
        y: Math.round((event.clientY - box.top) * (canvas.height / (box.height || 1)))
      };
    }
    function report(kind, event, extra) {
      if (!state.instance) {
        return;
      }
      var point = at(event);
      var input = {
        kind: kind, x: point.x, y: point.y, button: event.button || 0, buttons: event.buttons || 0,
        shift: event.shiftKey, ctrl: event.ctrlKey, alt: event.altKey, meta: event.metaKey
      };
      Object.assign(input, extra || {});
      send({ op: "input", instance: state.instance, event: input });
    }
    canvas.addEventListener("pointerdown", function (event) {
      canvas.focus();
      canvas.setPointerCapture(event.pointerId);
      report("down", event);
      event.preventDefault();
    });
    canvas.addEventListener("pointerup", function (event) {
      report("up", event);
    });
    canvas.addEventListener("pointermove", function (event) {
      // Key events carry no position; they are reported where the pointer was last seen.
      state.lastPointer = { clientX: event.clientX, clientY: event.clientY };
      report("move", event);
    });
    canvas.addEventListener("wheel", function (event) {
      report("wheel", event, { deltaY: event.deltaY });
      event.preventDefault();
    }, { passive: false });
    canvas.addEventListener("contextmenu", function (event) {
      event.preventDefault();
    });
    function key(kind) {
      return function (event) {
        var lastPointer = state.lastPointer || { clientX: 0, clientY: 0 };
        report(kind, lastPointer, {
          key: event.key, keyCode: event.keyCode, shift: event.shiftKey, ctrl: event.ctrlKey,
          alt: event.altKey, meta: event.metaKey
        });
        event.preventDefault();
      };
    }
    canvas.addEventListener("keydown", key("keydown"));
    canvas.addEventListener("keyup", key("keyup"));
  }

  // ---------------------------------------------------------------- pictures
  // Frames decode one at a time; one that arrives meanwhile waits, replaced by any newer one.
  function showPicture(data) {
    var view = new DataView(data);
    var state = instances.get(view.getUint32(0));
    if (!state) {
      return;
    }
    var bytes = new Uint8Array(data, 4);
    var type = bytes[0] === 0x89 ? "image/png" : "image/jpeg";
    state.nextPicture = new Blob([bytes], { type: type });
    if (!state.drawing) {
      drawNext(state);
    }
  }

  function drawNext(state) {
    var picture = state.nextPicture;
    state.nextPicture = null;
    if (!picture) {
      state.drawing = null;
      return;
    }
    state.drawing = createImageBitmap(picture).then(function (bitmap) {
      state.canvas.getContext("2d").drawImage(bitmap, 0, 0);
      bitmap.close();
      state.pictures = (state.pictures || 0) + 1;
      state.element.dispatchEvent(new CustomEvent("veltrapicture", { detail: { count: state.pictures } }));
    }).catch(function (error) {
      console.warn("veltra: a picture could not be shown: " + error);
    }).then(function () {
      drawNext(state);
    });
  }

  // ---------------------------------------------------------------- the connection
  function received(event) {
    if (typeof event.data !== "string") {
      showPicture(event.data);
      return;
    }
    var message = JSON.parse(event.data);
    var state;
    switch (message.op) {
      case "hello":
        pageId = message.page;
        document.querySelectorAll("object").forEach(startIfPlugin);
        watchElements();
        break;
      case "created":
        state = elements.get(message.element);
        if (state) {
          elements.delete(message.element);
          adopt(state, message);
        }
        break;
      case "createFailed":
        state = elements.get(message.element);
        elements.delete(message.element);
        console.error("veltra: the plug-in element could not start: " + message.error);
        if (state) {
          state.element.dispatchEvent(new CustomEvent("veltraerror", { detail: { error: message.error } }));
        }
        break;
      case "destroyed":
        state = instances.get(message.instance);
        if (state) {
          forget(state);
        }
        break;
      case "call":
        var answer = runHostCall(message.call);
        answer.op = "answer";
        answer.id = message.id;
        send(answer);
        break;
      case "release":
        releaseHandle(message.handle);
        break;
      case "crashed":
        // The page's viewer process has ended: every element hears why, and their calls fail from now on.
        console.error("veltra: " + message.error);
        instances.forEach(function (state) {
          state.element.dispatchEvent(new CustomEvent("veltracrash", { detail: { error: message.error } }));
          forget(state);
        });
        break;
      case "error":
        console.warn("veltra-host: " + message.error);
        break;
    }
  }

  function connect() {
    var scheme = location.protocol === "https:" ? "wss:" : "ws:";
    socket = new WebSocket(scheme + "//" + location.host + "/ws?secret=" + encodeURIComponent(SECRET));
    socket.binaryType = "arraybuffer";
    socket.onmessage = received;
    socket.onclose = function () {
      pageId = 0;
      instances.forEach(forget);
    };
  }

  window.__veltraHost = {
    // How many pictures each element has shown, for tests and status displays.
    pictures: function (element) {
      return element && element.__veltra ? element.__veltra.pictures || 0 : 0;
    }
  };

  if (document.readyState === "loading") {
    document.addEventListener("DOMContentLoaded", connect);
  } else {
    connect();
  }
})();
