// How the program starts and ends on the page. It runs main itself rather than letting the
// runtime do it: main sleeps (Asyncify) every time it waits, and only a call that follows it
// through its sleeps learns when it has really returned, to end the program with its code.
Module['noInitialRun'] = true;
Module['onRuntimeInitialized'] = function() {
  ccall('main', 'number', ['number', 'number'], [0, 0], {async: true}).then(function(code) {
    try {
      exit(code);
    } catch (error) {
      if (!(error instanceof ExitStatus)) throw error;
    }
  }, function(error) {
    // The program called exit itself (the run-time error report): its exit handlers have run,
    // and the page learns its code here.
    if (!(error instanceof ExitStatus)) throw error;
    if (Module['onExit']) Module['onExit'](error.status);
  });
};
