// The console of the web build: the page's text area shows what the program writes to standard
// output and standard error, and the player's name is typed into a text field in it, with the
// name line editor's rules: at most 254 bytes of UTF-8, whole characters only.
mergeInto(LibraryManager.library, {
  $SnakeConsole__deps: ['$Asyncify', '$FS'],
  $SnakeConsole__postset: 'addOnPreRun(SnakeConsole.attach);',
  $SnakeConsole: {
    NAME_BYTES: 254,
    decoder: null,
    output: function() { return document.getElementById('output'); },

    // Standard input gives nothing (a program that reads it gets the end of input), and the two
    // outputs go to the page, byte by byte, as UTF-8.
    attach: function() {
      SnakeConsole.decoder = new TextDecoder();
      var write = function(byte) {
        if (byte === null) return;
        var text = SnakeConsole.decoder.decode(new Uint8Array([byte & 0xFF]), {stream: true});
        if (text) SnakeConsole.append(text);
      };
      FS.init(function() { return null; }, write, write);
    },

    append: function(text) {
      var output = SnakeConsole.output();
      if (!output) return;
      var last = output.lastChild;
      if (last && last.nodeType === Node.TEXT_NODE) last.appendData(text);
      else output.appendChild(document.createTextNode(text));
    },

    utf8Length: function(text) {
      return new TextEncoder().encode(text).length;
    },

    // The longest run of whole characters from the start of text that fits in `room` bytes.
    fitting: function(text, room) {
      var taken = '';
      for (var character of text) {
        if (SnakeConsole.utf8Length(taken + character) > room) break;
        taken += character;
      }
      return taken;
    },

    // A field at the end of the output; calls back with the typed text once Enter is pressed.
    askLine: function(done) {
      var field = document.createElement('input');
      field.id = 'name';
      field.type = 'text';
      field.autocomplete = 'off';
      field.spellcheck = false;
      field.setAttribute('aria-label', 'Your name');
      var kept = '';
      // Typing or pasting past the limit keeps the whole characters that fit.
      field.addEventListener('beforeinput', function(event) {
        if (event.isComposing || event.data === null || !event.inputType.startsWith('insert')) return;
        var value = field.value;
        var start = field.selectionStart, end = field.selectionEnd;
        var room = SnakeConsole.NAME_BYTES -
          SnakeConsole.utf8Length(value.slice(0, start) + value.slice(end));
        var text = SnakeConsole.fitting(event.data, room);
        if (text === event.data) return;
        event.preventDefault();
        if (text) field.setRangeText(text, start, end, 'end');
        kept = field.value;
      });
      // Whatever got past beforeinput (an input method's composition) is refused whole.
      field.addEventListener('input', function() {
        if (SnakeConsole.utf8Length(field.value) > SnakeConsole.NAME_BYTES) field.value = kept;
        kept = field.value;
      });
      field.addEventListener('keydown', function(event) {
        if (event.key === 'Escape') {
          field.value = kept = '';
          event.preventDefault();
        } else if (event.key === 'Enter' && !event.isComposing) {
          event.preventDefault();
          var text = field.value;
          field.remove();
          SnakeConsole.append(text + '\n');
          done(text);
        }
      });
      SnakeConsole.output().appendChild(field);
      field.focus();
    }
  },

  snake_web_console_clear__deps: ['$SnakeConsole'],
  snake_web_console_clear: function() {
    var output = SnakeConsole.output();
    if (output) output.textContent = '';
  },

  // The program sleeps until the name is typed; it lands in `buffer` as UTF-8 (at most `size`
  // bytes); answers its length.
  snake_web_await_line__deps: ['$SnakeConsole', '$Asyncify'],
  snake_web_await_line: function(buffer, size) {
    return Asyncify.handleSleep(function(wakeUp) {
      SnakeConsole.askLine(function(text) {
        var bytes = new TextEncoder().encode(text).subarray(0, size);
        HEAPU8.set(bytes, buffer);
        wakeUp(bytes.length);
      });
    });
  }
});
