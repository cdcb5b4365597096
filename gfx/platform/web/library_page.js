// The page side of the web platform: the canvas that is the window, the keys and the mouse, and
// the program's waits. The program runs on the page's only thread; while it waits (ReadKey,
// Delay) it hands control back to the browser (Asyncify), and the next key, or its timer, brings
// it back. Nothing runs in between: an idle program costs the page nothing.
mergeInto(LibraryManager.library, {
  $SnakePage__deps: ['$Asyncify'],
  $SnakePage: {
    // The layer's event and key codes (gfx/platform/platform.h: KeyEvent, Key).
    KEY_DOWN: 0,
    KEY_UP: 1,
    CHARACTER: 2,
    KEYS: {
      'ArrowUp': 1, 'ArrowDown': 2, 'ArrowLeft': 3, 'ArrowRight': 4, 'Home': 5, 'End': 6,
      'PageUp': 7, 'PageDown': 8, 'Insert': 9, 'Delete': 10, 'F1': 11, 'F2': 12, 'F3': 13,
      'F4': 14, 'F5': 15, 'F6': 16, 'F7': 17, 'F8': 18, 'F9': 19, 'F10': 20,
      'Shift': 21, 'Control': 22, 'Alt': 23
    },
    FIRST_FUNCTION_KEY: 11,
    LAST_FUNCTION_KEY: 20,
    FIRST_MODIFIER: 21,
    // The mouse slot's actions and buttons (gfx/graph.h: MouseAction, MouseButton), by the
    // page's button numbers: 0 left, 1 middle, 2 right.
    MOUSE_DOWN: 0,
    MOUSE_UP: 1,
    DOUBLE_CLICK: 2,
    BUTTONS: [0, 2, 1],

    canvas: null,
    context: null,
    image: null,
    imageMemory: null,
    imagePixels: 0,
    width: 0,
    height: 0,
    doubleClicks: false,
    wake: null,        // ends the program's current wait
    wakeOnKey: false,  // whether a key ends it
    listening: false,

    // Picture pixels per device pixel at which the picture shows sharp: a whole number.
    wholeScale: function() {
      return Math.max(1, Math.floor(window.devicePixelRatio || 1));
    },

    // Scaled to fit the page with its aspect kept, centred on black, nearest neighbour (the
    // canvas' CSS): a whole number of device pixels per picture pixel wherever the picture fits
    // at least once, so that every picture pixel is drawn the same size; shrunk only when it
    // does not fit. The canvas' corner falls on a whole device pixel.
    fit: function() {
      var canvas = SnakePage.canvas;
      if (!canvas || !SnakePage.width) return;
      var ratio = window.devicePixelRatio || 1;
      var pageWidth = Math.floor(window.innerWidth * ratio);
      var pageHeight = Math.floor(window.innerHeight * ratio);
      var room = Math.min(pageWidth / SnakePage.width, pageHeight / SnakePage.height);
      var factor = room >= 1 ? Math.floor(room) : room;
      var width = Math.round(SnakePage.width * factor);
      var height = Math.round(SnakePage.height * factor);
      canvas.style.width = width / ratio + 'px';
      canvas.style.height = height / ratio + 'px';
      canvas.style.left = Math.floor((pageWidth - width) / 2) / ratio + 'px';
      canvas.style.top = Math.floor((pageHeight - height) / 2) / ratio + 'px';
    },

    wakeProgram: function() {
      var wake = SnakePage.wake;
      if (!wake) return;
      SnakePage.wake = null;
      wake();
    },

    // The character a key press types, as the classic platform gives it: control characters
    // for Enter, Escape, Backspace, Tab and Ctrl with a letter or [ \ ]; with AltGr (Ctrl and
    // Alt together) Ctrl counts for nothing, and Alt alone changes no character. The low 8 bits
    // of the code point, or 0 for a key without one.
    character: function(event) {
      var ctrl = event.ctrlKey && !event.altKey;
      switch (event.key) {
        case 'Enter': return ctrl ? 10 : 13;
        case 'Escape': return 27;
        case 'Backspace': return ctrl ? 127 : 8;
        case 'Tab': return 9;
      }
      if (event.metaKey || Array.from(event.key).length !== 1) return 0;
      if (!ctrl) return event.key.codePointAt(0) & 0xFF;
      var key = event.key.toLowerCase();
      if (key >= 'a' && key <= 'z') return key.charCodeAt(0) - 96;
      return {'[': 27, '\\': 28, ']': 29}[key] || 0;
    },

    live: function() {
      return SnakePage.canvas && !SnakePage.canvas.hidden;
    },

    onKeyDown: function(event) {
      if (!SnakePage.live() || event.isComposing) return;
      var character = SnakePage.character(event);
      var code = SnakePage.KEYS[event.key] || 0;
      if (character) {
        _snake_web_key(SnakePage.CHARACTER, 0, character);
      } else {
        _snake_web_key(SnakePage.KEY_DOWN, code, 0);
      }
      // The browser keeps its own shortcuts (with Ctrl or Meta, and the function keys); the
      // keys the program reads neither scroll the page nor move the focus.
      var functionKey = code >= SnakePage.FIRST_FUNCTION_KEY && code <= SnakePage.LAST_FUNCTION_KEY;
      if (!event.ctrlKey && !event.metaKey && !functionKey) event.preventDefault();
      if (SnakePage.wakeOnKey) SnakePage.wakeProgram();
    },

    onKeyUp: function(event) {
      var code = SnakePage.KEYS[event.key] || 0;
      if (SnakePage.live() && code >= SnakePage.FIRST_MODIFIER) _snake_web_key(SnakePage.KEY_UP, code, 0);
    },

    // A page that loses the focus never hears the release of a modifier held then.
    onBlur: function() {
      if (!SnakePage.live()) return;
      for (var name of ['Shift', 'Control', 'Alt']) _snake_web_key(SnakePage.KEY_UP, SnakePage.KEYS[name], 0);
    },

    // The pointer's position in picture pixels, whatever the canvas' scale on the page.
    onMouse: function(event) {
      var canvas = SnakePage.canvas;
      var button = SnakePage.BUTTONS[event.button];
      if (!SnakePage.live() || button === undefined || !canvas.clientWidth) return;
      var x = Math.floor(event.offsetX * canvas.width / canvas.clientWidth);
      var y = Math.floor(event.offsetY * canvas.height / canvas.clientHeight);
      var action = event.type === 'mouseup' ? SnakePage.MOUSE_UP :
        SnakePage.doubleClicks && event.detail % 2 === 0 ? SnakePage.DOUBLE_CLICK : SnakePage.MOUSE_DOWN;
      _snake_web_mouse(action, button, x, y);
      event.preventDefault();
    },

    listen: function() {
      if (SnakePage.listening) return;
      SnakePage.listening = true;
      window.addEventListener('keydown', SnakePage.onKeyDown);
      window.addEventListener('keyup', SnakePage.onKeyUp);
      window.addEventListener('blur', SnakePage.onBlur);
      window.addEventListener('resize', SnakePage.fit);
      SnakePage.canvas.addEventListener('mousedown', SnakePage.onMouse);
      SnakePage.canvas.addEventListener('mouseup', SnakePage.onMouse);
      SnakePage.canvas.addEventListener('contextmenu', function(event) { event.preventDefault(); });
    }
  },

  // The page's size in picture pixels: device pixels, a whole number of them per picture pixel.
  snake_web_page_size__deps: ['$SnakePage'],
  snake_web_page_size: function(widthPtr, heightPtr) {
    var ratio = window.devicePixelRatio || 1;
    var scale = SnakePage.wholeScale();
    HEAP32[widthPtr >> 2] = Math.max(1, Math.floor(window.innerWidth * ratio / scale));
    HEAP32[heightPtr >> 2] = Math.max(1, Math.floor(window.innerHeight * ratio / scale));
  },

  // The canvas shows, black, at that size; false when the page has none to give.
  snake_web_open__deps: ['$SnakePage'],
  snake_web_open: function(width, height, title, doubleClicks) {
    var canvas = document.getElementById('screen');
    var context = canvas && canvas.getContext('2d', {alpha: false});
    if (!context) return 0;
    canvas.width = width;
    canvas.height = height;
    canvas.setAttribute('aria-label', UTF8ToString(title));
    SnakePage.canvas = canvas;
    SnakePage.context = context;
    SnakePage.width = width;
    SnakePage.height = height;
    SnakePage.doubleClicks = !!doubleClicks;
    SnakePage.image = null;
    SnakePage.fit();
    canvas.hidden = false;
    canvas.focus();
    SnakePage.listen();
    return 1;
  },

  // Puts `count` rectangles (x0, y0, x1, y1, inclusive) of the canvas-sized RGBA picture at
  // `pixels` on the canvas, and nothing else.
  snake_web_present__deps: ['$SnakePage'],
  snake_web_present: function(pixels, rects, count) {
    var width = SnakePage.width, height = SnakePage.height;
    // The picture is read in place; a new view only when the memory grew or moved the picture.
    if (!SnakePage.image || SnakePage.imageMemory !== HEAPU8.buffer || SnakePage.imagePixels !== pixels) {
      SnakePage.image = new ImageData(new Uint8ClampedArray(HEAPU8.buffer, pixels, width * height * 4),
                                      width, height);
      SnakePage.imageMemory = HEAPU8.buffer;
      SnakePage.imagePixels = pixels;
    }
    for (var i = 0; i < count; ++i) {
      var r = (rects >> 2) + 4 * i;
      var x0 = HEAP32[r], y0 = HEAP32[r + 1];
      SnakePage.context.putImageData(SnakePage.image, 0, 0, x0, y0, HEAP32[r + 2] - x0 + 1, HEAP32[r + 3] - y0 + 1);
    }
  },

  snake_web_close__deps: ['$SnakePage'],
  snake_web_close: function() {
    if (SnakePage.canvas) SnakePage.canvas.hidden = true;
    SnakePage.image = null;
  },

  // The program's thread hands control back to the browser until the timer (milliseconds; -1:
  // none) or, with wakeOnKey, until the next key.
  snake_web_await_page__deps: ['$SnakePage', '$Asyncify'],
  snake_web_await_page: function(timeoutMs, wakeOnKey) {
    return Asyncify.handleSleep(function(wakeUp) {
      var timer = null;
      SnakePage.wakeOnKey = !!wakeOnKey;
      SnakePage.wake = function() {
        if (timer !== null) clearTimeout(timer);
        SnakePage.wakeOnKey = false;
        wakeUp();
      };
      if (timeoutMs >= 0) timer = setTimeout(SnakePage.wakeProgram, timeoutMs);
    });
  }
});
