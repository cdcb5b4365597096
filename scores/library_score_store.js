// The score table of the web build lives in the page's IndexedDB: database "snake-garden",
// object store "files", the 2582-byte record under the key "scores.db", byte for byte the
// desktop's file, and a damaged table kept aside under "scores.db.damaged" and the names after
// it. A merge reads, moves aside and writes inside one read-write transaction: the browser runs
// such transactions one at a time for every tab of the page, so two tabs that merge at once
// both get their result in, and a tab closed halfway has its transaction undone. The table is
// also read before the program starts, for the high-score screen, and again whenever another
// tab has merged. Where the browser gives the page no storage (a private window may not), the
// table lives in memory for the visit and the page says so.
mergeInto(LibraryManager.library, {
  $SnakeScores__deps: ['$Asyncify'],
  $SnakeScores__postset: 'addOnPreRun(SnakeScores.load);',
  $SnakeScores: {
    DATABASE: 'snake-garden',
    STORE: 'files',
    KEY: 'scores.db',
    RECORD_BYTES: 2582,
    db: null,
    kept: true,             // false: the browser gives the page no storage
    memory: null,           // the files while nothing is kept: a Map
    shown: null,            // the table for the high-score screen (Uint8Array or null)
    transaction: null,      // the merge's, from its read to its write's end
    problem: '',            // why the last step failed, for the program's message
    channel: null,
    tab: 0,                 // this tab's number in the names of damaged tables

    describe: function(error) {
      if (!error) return 'unknown';
      var message = String(error.message || '').replace(/\.$/, '');
      return message ? (error.name || 'Error') + ': ' + message : String(error.name || error);
    },

    // Before the program starts: the database opened, the table read for the high-score screen.
    load: function() {
      SnakeScores.memory = new Map();
      addRunDependency('score table');
      var done = function(error) {
        if (error) SnakeScores.unavailable(error);
        removeRunDependency('score table');
      };
      var request;
      try {
        request = indexedDB.open(SnakeScores.DATABASE, 1);
      } catch (error) {
        return done(error);
      }
      request.onupgradeneeded = function() { request.result.createObjectStore(SnakeScores.STORE); };
      request.onerror = function(event) { event.preventDefault(); done(request.error); };
      request.onblocked = function() { done(new Error('an older page holds the database')); };
      request.onsuccess = function() {
        SnakeScores.db = request.result;
        SnakeScores.db.onversionchange = function() { SnakeScores.db.close(); };
        SnakeScores.refresh(done);
        if (typeof BroadcastChannel != 'undefined') {
          SnakeScores.channel = new BroadcastChannel('snake-garden-scores');
          SnakeScores.channel.onmessage = function() { SnakeScores.refresh(function() {}); };
        }
      };
    },

    unavailable: function(error) {
      SnakeScores.kept = false;
      SnakeScores.db = null;
      SnakeScores.problem = SnakeScores.describe(error);
      if (Module['onStorageUnavailable']) Module['onStorageUnavailable'](SnakeScores.problem);
    },

    refresh: function(callback) {
      try {
        var request = SnakeScores.db.transaction(SnakeScores.STORE).objectStore(SnakeScores.STORE)
                        .get(SnakeScores.KEY);
        request.onsuccess = function() {
          SnakeScores.shown = request.result ? new Uint8Array(request.result) : null;
          callback(null);
        };
        request.onerror = function(event) { event.preventDefault(); callback(request.error); };
      } catch (error) {
        callback(error);
      }
    },

    // Copies up to `size` bytes of a stored value to the program; answers the value's length, or
    // -1 when there is none.
    copyOut: function(value, bytes, size) {
      if (!value) return -1;
      HEAPU8.set(value.subarray(0, Math.min(size, value.length)), bytes);
      return value.length;
    },

    // The chain of a merge's requests: each is made inside the callback of the one before, while
    // the transaction is active, so it stays alive from the read to the write. `steps` are
    // functions (store, previous request's result) answering the next request, or a number to
    // end with; `failed(error)` answers for a request that fails.
    chain: function(steps, failed, wakeUp) {
      var next = function(index, result) {
        var request;
        try {
          request = steps[index](SnakeScores.transaction.objectStore(SnakeScores.STORE), result);
        } catch (error) {
          SnakeScores.problem = SnakeScores.describe(error);
          return wakeUp(failed(error));
        }
        if (typeof request == 'number') return wakeUp(request);
        request.onsuccess = function() { next(index + 1, request.result); };
        request.onerror = function(event) {
          // Answered by the program: the transaction goes on (a taken name, tried again).
          event.preventDefault();
          SnakeScores.problem = SnakeScores.describe(request.error);
          wakeUp(failed(request.error));
        };
      };
      next(0, undefined);
    }
  },

  // The merge's read, which starts its transaction: the stored length, -1 for no table, -2 when
  // the table cannot be read.
  snake_web_await_table_read__deps: ['$SnakeScores'],
  snake_web_await_table_read: function(bytes, size) {
    return Asyncify.handleSleep(function(wakeUp) {
      if (!SnakeScores.kept) return wakeUp(SnakeScores.copyOut(SnakeScores.memory.get(SnakeScores.KEY), bytes, size));
      try {
        SnakeScores.transaction = SnakeScores.db.transaction(SnakeScores.STORE, 'readwrite');
      } catch (error) {
        SnakeScores.problem = SnakeScores.describe(error);
        return wakeUp(-2);
      }
      SnakeScores.chain([
        function(store) { return store.get(SnakeScores.KEY); },
        function(store, table) { return SnakeScores.copyOut(table ? new Uint8Array(table) : null, bytes, size); }
      ], function() { return -2; }, wakeUp);
    });
  },

  // Moves the stored table to the name `to` unless that name is taken: 0 moved, 1 taken,
  // 2 failed.
  snake_web_await_table_move__deps: ['$SnakeScores'],
  snake_web_await_table_move: function(to) {
    return Asyncify.handleSleep(function(wakeUp) {
      var name = UTF8ToString(to);
      var files = SnakeScores.memory;
      if (!SnakeScores.kept) {
        if (files.has(name)) return wakeUp(1);
        files.set(name, files.get(SnakeScores.KEY));
        files.delete(SnakeScores.KEY);
        return wakeUp(0);
      }
      SnakeScores.chain([
        function(store) { return store.get(SnakeScores.KEY); },
        function(store, table) { return table ? store.add(table, name) : 2; },
        function(store) { return store.delete(SnakeScores.KEY); },
        function() { return 0; }
      ], function(error) { return error.name === 'ConstraintError' ? 1 : 2; }, wakeUp);
    });
  },

  // The merge's write, and the end of its transaction: 0 once the new table is stored, else 1.
  snake_web_await_table_write__deps: ['$SnakeScores'],
  snake_web_await_table_write: function(bytes, size) {
    return Asyncify.handleSleep(function(wakeUp) {
      var table = HEAPU8.slice(bytes, bytes + size);
      if (!SnakeScores.kept) {
        SnakeScores.memory.set(SnakeScores.KEY, table);
        return wakeUp(0);
      }
      var transaction = SnakeScores.transaction;
      transaction.oncomplete = function() {
        SnakeScores.transaction = null;
        SnakeScores.shown = table;
        if (SnakeScores.channel) SnakeScores.channel.postMessage('merged');
        wakeUp(0);
      };
      transaction.onabort = function() {
        SnakeScores.transaction = null;
        if (transaction.error) SnakeScores.problem = SnakeScores.describe(transaction.error);
        wakeUp(1);
      };
      try {
        transaction.objectStore(SnakeScores.STORE).put(table, SnakeScores.KEY);
      } catch (error) {
        SnakeScores.problem = SnakeScores.describe(error);
        transaction.abort();
      }
    });
  },

  // The table for the high-score screen, as last read or written: its length (0 for none).
  snake_web_table_shown__deps: ['$SnakeScores'],
  snake_web_table_shown: function(bytes, size) {
    var table = SnakeScores.kept ? SnakeScores.shown : SnakeScores.memory.get(SnakeScores.KEY);
    return Math.max(0, SnakeScores.copyOut(table, bytes, size));
  },

  snake_web_table_kept__deps: ['$SnakeScores'],
  snake_web_table_kept: function() {
    return SnakeScores.kept ? 1 : 0;
  },

  // "YYYYMMDDTHHMMSSZ.TAB" in `buffer`: the time in UTC and this tab's number, drawn once.
  snake_web_time_and_tab__deps: ['$SnakeScores'],
  snake_web_time_and_tab: function(buffer, size) {
    if (!SnakeScores.tab) SnakeScores.tab = 1 + crypto.getRandomValues(new Uint32Array(1))[0] % 999999999;
    var stamp = new Date().toISOString().slice(0, 19).replace(/[-:]/g, '') + 'Z';
    stringToUTF8(stamp + '.' + SnakeScores.tab, buffer, size);
  },

  // Why the last step failed, as UTF-8 in `buffer`.
  snake_web_table_problem__deps: ['$SnakeScores'],
  snake_web_table_problem: function(buffer, size) {
    stringToUTF8(SnakeScores.problem || 'unknown', buffer, size);
  }
});
