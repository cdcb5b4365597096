// The run-time error report's addresses in a web page, which has no execinfo: the browser's own
// stack of the WebAssembly code, whose frames Chromium and Firefox print with their offset in the
// module ("wasm-function[12]:0x3f0a"). A frame without one counts as 0.
mergeInto(LibraryManager.library, {
  $snakeWasmFrames: function() {
    var limit = Error.stackTraceLimit;
    Error.stackTraceLimit = 100;
    var stack = new Error().stack;
    Error.stackTraceLimit = limit;
    return stack.split('\n').map(function(frame) {
      var offset = /\bwasm-function\[\d+\]:0x([0-9a-f]+)/.exec(frame);
      return offset ? parseInt(offset[1], 16) : (/\.wasm\b|wasm-function/.test(frame) ? 0 : -1);
    }).filter(function(offset) { return offset >= 0; });
  },

  // What __builtin_return_address gives in WebAssembly: the offset where the function calling it
  // was called from. The browser's stacks make the offset converter, with its copy of the whole
  // module, unnecessary.
  emscripten_return_address__deps: ['$snakeWasmFrames'],
  emscripten_return_address: function(level) {
    var frames = snakeWasmFrames();
    return frames[level + 1] || 0;
  },

  // Up to `count` offsets of the frames on the stack, innermost first; answers how many.
  snake_web_stack__deps: ['$snakeWasmFrames'],
  snake_web_stack: function(buffer, count) {
    var frames = snakeWasmFrames();
    var n = Math.min(count, frames.length);
    for (var i = 0; i < n; ++i) HEAPU32[(buffer >> 2) + i] = frames[i];
    return n;
  }
});
