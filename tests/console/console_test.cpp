#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "console/console.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kPatience(5000);

// The name dialogue as a player meets it: a child process whose standard input and output are a
// pseudo-terminal, driven from the master side. The child runs a body (ReadLine by default) and
// sends back what it read and whether the terminal's mode was the same afterwards.
class Terminal {
 public:
  using Body = void (*)();

  explicit Terminal(Body body = nullptr) {
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
    int report[2];
    if (pipe(report) != 0) return;
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      // A program started normally: its own process group (so that stopping works), and the
      // signals the editor guards at their default actions.
      setpgid(0, 0);
      for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) std::signal(signal, SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      close(report[0]);
      close(master_);
      dup2(slave_, STDIN_FILENO);
      dup2(slave_, STDOUT_FILENO);
      RunChild(body, report[1]);
    }
    close(report[1]);
    report_ = report[0];
  }

  ~Terminal() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {master_, slave_, report_}) {
      if (fd >= 0) close(fd);
    }
  }

  bool Started() const { return pid_ > 0; }

  // Waits until the child has switched the terminal out of line mode, so that what is sent next
  // reaches the editor unprocessed.
  bool WaitForRawMode() {
    return Poll([this] { return !(Mode().c_lflag & ICANON); });
  }

  // Waits until the child sleeps in its read of the next key, as a player's Ctrl+C finds it. A
  // signal that comes while the child still runs is held back by some run-time checkers until
  // their next look, which a read that never returns may never give them.
  bool WaitForKeyWait() {
    const std::string path = "/proc/" + std::to_string(pid_) + "/syscall";
    return Poll([&] {
      std::FILE* file = std::fopen(path.c_str(), "r");
      if (file == nullptr) return true;  // no such view of the child here: nothing to wait on
      long call = -1;
      const bool read = std::fscanf(file, "%ld", &call) == 1;
      std::fclose(file);
      return read && call == SYS_read;
    });
  }

  termios Mode() const {
    termios mode{};
    tcgetattr(slave_, &mode);
    return mode;
  }

  void Send(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // The terminal goes away, as when its window is closed: the child's reads and writes on it fail.
  void HangUp() {
    Drain();
    close(std::exchange(master_, -1));
  }

  // Everything the child has written to the terminal so far, waiting until it contains text.
  bool WaitForOutput(const std::string& text) {
    return Poll([&] {
      Drain();
      return output_.find(text) != std::string::npos;
    });
  }
  const std::string& Output() {
    Drain();
    return output_;
  }

  // Waits for the child to end: its status, the line it read and whether the mode came back.
  struct Result {
    int Status = -1;
    std::string Line;
    bool ModeRestored = false;
  };
  Result Finish() {
    Result result;
    std::string report;
    const auto deadline = Clock::now() + kPatience;
    for (;;) {
      Drain();
      pollfd p{report_, POLLIN, 0};
      if (poll(&p, 1, 10) > 0) {
        char buffer[512];
        const ssize_t n = read(report_, buffer, sizeof buffer);
        if (n <= 0) break;
        report.append(buffer, static_cast<std::size_t>(n));
      }
      if (Clock::now() > deadline) {
        ADD_FAILURE() << "the child did not finish; it wrote: " << output_;
        kill(pid_, SIGKILL);
        break;
      }
    }
    waitpid(pid_, &result.Status, 0);
    reaped_ = true;
    Drain();
    if (!report.empty()) {
      result.ModeRestored = report[0] == 'R';
      result.Line = report.substr(1);
    }
    return result;
  }

  // The child stops (job control) or ends on a signal; answers the status without reaping an end.
  int WaitForStatusChange() {
    int status = 0;
    if (!Poll([&] { return waitpid(pid_, &status, WNOHANG | WUNTRACED) == pid_; })) {
      ADD_FAILURE() << "the child neither stopped nor ended";
      return -1;
    }
    if (!WIFSTOPPED(status)) reaped_ = true;
    return status;
  }
  pid_t Pid() const { return pid_; }

 private:
  [[noreturn]] static void RunChild(Body body, int report) {
    if (body != nullptr) {
      body();
      _exit(0);
    }
    termios before{};
    tcgetattr(STDIN_FILENO, &before);
    const ShortString line = ReadLine();
    termios after{};
    tcgetattr(STDIN_FILENO, &after);
    const bool restored = before.c_lflag == after.c_lflag && before.c_iflag == after.c_iflag &&
                          before.c_cc[VMIN] == after.c_cc[VMIN];
    std::string message(1, restored ? 'R' : 'X');
    message += line.View();
    if (write(report, message.data(), message.size()) < 0) _exit(3);
    _exit(0);
  }

  template <typename Condition>
  static bool Poll(Condition condition) {
    const auto deadline = Clock::now() + kPatience;
    while (!condition()) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
  }

  void Drain() {
    char buffer[1024];
    pollfd p{master_, POLLIN, 0};
    while (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      output_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  int master_ = -1;
  int slave_ = -1;
  int report_ = -1;
  pid_t pid_ = -1;
  bool reaped_ = false;
  std::string output_;
};

bool IsLineMode(const termios& mode) {
  return (mode.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO);
}

constexpr const char* kLeft = "\x1b[D";
constexpr const char* kRight = "\x1b[C";
constexpr const char* kHome = "\x1b[H";
constexpr const char* kEnd = "\x1b[F";

// Types keys into a fresh editor and answers the line it hands back.
std::string Edit(const std::string& keys) {
  Terminal terminal;
  if (!terminal.Started() || !terminal.WaitForRawMode()) {
    ADD_FAILURE() << "the editor never switched the terminal to raw mode";
    return {};
  }
  terminal.Send(keys);
  const Terminal::Result result = terminal.Finish();
  EXPECT_TRUE(WIFEXITED(result.Status) && WEXITSTATUS(result.Status) == 0);
  EXPECT_TRUE(result.ModeRestored) << "keys: " << testing::PrintToString(keys);
  return result.Line;
}

TEST(LineEditor, CursorKeysMoveOverTypedTextAndCharactersOverwrite) {
  EXPECT_EQ(Edit(std::string("abc") + kLeft + kLeft + "X\r"), "aXc");
  EXPECT_EQ(Edit(std::string("abcd") + kHome + "XY\r"), "XYcd");
  EXPECT_EQ(Edit(std::string("abc") + kHome + kRight + "Q" + kEnd + "d\r"), "aQcd");
  EXPECT_EQ(Edit(std::string("ab") + kRight + kRight + "c\n"), "abc") << "Right stops at the end";
  EXPECT_EQ(Edit(std::string("abc") + kHome + kLeft + "Z\r"), "Zbc") << "Left stops at the start";
  // The other spellings terminals use for the same keys.
  EXPECT_EQ(Edit("abc\x1bOD\x1bODX\x1bOM"), "aXc");
  EXPECT_EQ(Edit("abc\x1b[1~Z\x1b[4~d\r"), "Zbcd");
  EXPECT_EQ(Edit("abc\x1bOHZ\x1bOFd\r"), "Zbcd");
  EXPECT_EQ(Edit("abc\x1b[1;5DX\r"), "abX") << "a modified arrow still moves";
  EXPECT_EQ(Edit("ab\x1b[3~\x1b[15~c\r"), "abc") << "keys the editor has no use for do nothing";
}

TEST(LineEditor, BackspaceRemovesOnlyAtTheEnd) {
  EXPECT_EQ(Edit(std::string("abc") + kLeft + "\x7f\r"), "abc");
  EXPECT_EQ(Edit(std::string("abc") + kLeft + "\x08\x13\r"), "abc");
  EXPECT_EQ(Edit("abc\x7f\r"), "ab");
  EXPECT_EQ(Edit("abc\x08\x13z\r"), "az");
  EXPECT_EQ(Edit("a\x7f\x7f\x7f\r"), "");

  Terminal terminal;
  ASSERT_TRUE(terminal.WaitForRawMode());
  terminal.Send("xy\x7f\r");
  const Terminal::Result result = terminal.Finish();
  EXPECT_EQ(result.Line, "x");
  EXPECT_NE(terminal.Output().find("xy\b \b"), std::string::npos) << terminal.Output();
}

TEST(LineEditor, EscapeAndCtrlYEraseTheLine) {
  Terminal terminal;
  ASSERT_TRUE(terminal.WaitForRawMode());
  terminal.Send(std::string("abc") + kLeft);
  ASSERT_TRUE(terminal.WaitForOutput("abc\b"));
  // A lone Escape is told from a sequence by the silence after it.
  terminal.Send("\x1b");
  ASSERT_TRUE(terminal.WaitForOutput("abc\bc\b \b\b \b\b \b")) << terminal.Output();
  terminal.Send("de\x19xyz\r");
  const Terminal::Result result = terminal.Finish();
  EXPECT_EQ(result.Line, "xyz");
  EXPECT_TRUE(result.ModeRestored);
}

TEST(LineEditor, AcceptsAtMost254Characters) {
  Terminal terminal;
  ASSERT_TRUE(terminal.WaitForRawMode());
  terminal.Send(std::string(300, 'n'));
  ASSERT_TRUE(terminal.WaitForOutput(std::string(254, 'n')));
  // Refused keys are not echoed; Backspace makes room for one more.
  terminal.Send("\x7fQ\r");
  const Terminal::Result result = terminal.Finish();
  EXPECT_EQ(result.Line, std::string(253, 'n') + "Q");
  EXPECT_EQ(terminal.Output().find(std::string(255, 'n')), std::string::npos);
  EXPECT_TRUE(result.ModeRestored);
}

TEST(LineEditor, KeepsBytesAsTyped) {
  EXPECT_EQ(Edit("Ren\xc3\xa9 \xe9!\r"), "Ren\xc3\xa9 \xe9!");
  EXPECT_EQ(Edit("a\x01\x02\tb\r"), "ab") << "control characters are not stored";
  EXPECT_EQ(Edit("\r"), "");
}

TEST(LineEditor, MovesAndOverwritesWholeUtf8Characters) {
  const std::string e = "\xc3\xa9";         // two bytes
  const std::string euro = "\xe2\x82\xac";  // three bytes
  EXPECT_EQ(Edit("Ren" + e + "\x7f" + "e\r"), "Rene") << "Backspace takes the whole character";
  EXPECT_EQ(Edit(e + kLeft + "X\r"), "X") << "Left steps over the whole character";
  EXPECT_EQ(Edit(e + "b" + kHome + kRight + "X\r"), e + "X");
  EXPECT_EQ(Edit("a" + euro + "b" + kLeft + kLeft + "Z\r"), "aZb");
  EXPECT_EQ(Edit(std::string("abc") + kHome + e + euro + "\r"), e + euro + "c");
  // Bytes outside valid UTF-8 are a character each: a stray continuation, a byte that can never
  // start a sequence, a sequence cut short by a plain character, an overlong form.
  EXPECT_EQ(Edit(std::string("\x80\xff") + kLeft + "X\r"), "\x80X");
  EXPECT_EQ(Edit(std::string("\xe2\x82q") + kLeft + kLeft + "X\r"), "\xe2Xq");
  EXPECT_EQ(Edit(std::string("\xc0\xaf") + kLeft + "X\r"), "\xc0X");
}

TEST(LineEditor, TheByteCapNeverSplitsACharacter) {
  const std::string e = "\xc3\xa9";
  EXPECT_EQ(Edit(std::string(253, 'n') + e + "x\r"), std::string(253, 'n') + "x");
  std::string full;
  for (int i = 0; i < 127; ++i) full += e;
  EXPECT_EQ(Edit(full + "x" + "\x7fx\r"), full.substr(0, 252) + "x");
  // Overwriting with a longer character must fit as well.
  EXPECT_EQ(Edit(std::string(254, 'n') + kHome + e + "\r"), std::string(254, 'n'));
}

TEST(LineEditor, EchoKeepsWideCharactersInTheirColumns) {
  Terminal terminal;
  ASSERT_TRUE(terminal.WaitForRawMode());
  // U+65E5 takes two columns: Left and Backspace go back two, and a narrow character typed
  // over it pulls the rest of the line one column left.
  terminal.Send(std::string("\xe6\x97\xa5x") + kHome + "a" + kEnd + "\xe6\x97\xa5\x7f\r");
  const Terminal::Result result = terminal.Finish();
  EXPECT_EQ(result.Line, "ax");
  EXPECT_NE(terminal.Output().find("\xe6\x97\xa5x\b\b\bax \b\b"), std::string::npos)
      << testing::PrintToString(terminal.Output());
  EXPECT_NE(terminal.Output().find("x\xe6\x97\xa5\b\b  \b\b"), std::string::npos)
      << testing::PrintToString(terminal.Output());
}

TEST(LineEditor, TerminalIsRestoredWhenTheProgramIsKilledOrStopped) {
  for (int signal : {SIGINT, SIGTERM}) {
    Terminal terminal;
    ASSERT_TRUE(terminal.WaitForRawMode());
    ASSERT_TRUE(terminal.WaitForKeyWait());
    kill(terminal.Pid(), signal);
    const int status = terminal.WaitForStatusChange();
    EXPECT_TRUE(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == signal)
        << "signal " << signal;
    EXPECT_TRUE(IsLineMode(terminal.Mode())) << "signal " << signal;
  }

  Terminal terminal;
  ASSERT_TRUE(terminal.WaitForRawMode());
  terminal.Send("ab");
  ASSERT_TRUE(terminal.WaitForOutput("ab"));
  for (int stop = 0; stop < 2; ++stop) {
    ASSERT_TRUE(terminal.WaitForKeyWait());
    kill(terminal.Pid(), SIGTSTP);
    const int status = terminal.WaitForStatusChange();
    ASSERT_TRUE(status != -1 && WIFSTOPPED(status)) << "stop " << stop;
    EXPECT_TRUE(IsLineMode(terminal.Mode())) << "a stopped editor leaves the terminal usable";
    kill(terminal.Pid(), SIGCONT);
    ASSERT_TRUE(terminal.WaitForRawMode()) << "continuing switches back to raw mode";
  }
  terminal.Send("c\r");
  const Terminal::Result result = terminal.Finish();
  EXPECT_EQ(result.Line, "abc");
  EXPECT_TRUE(result.ModeRestored);
}

// What the game does after the name: the score on a line of its own. The exit code says whether
// that write went through (3 if not) and whether the name was the one typed (4 if not).
void NameThenScore() {
  const ShortString name = ReadLine();
  const bool written = std::printf("7\n") == 2 && std::fflush(stdout) == 0;
  _exit(!written ? 3 : name.View() == "ab" ? 0 : 4);
}

// A hang-up at the prompt ends the input as a closed one does: the name typed so far is the
// name, and the run goes on to its score and its end as after Enter. It comes as the hang-up
// signal, or, where that is ignored or has not come yet, as reads that fail once the terminal is
// gone; either way what would have been written to the gone terminal must not fail the run.
TEST(LineEditor, HangUpEndsTheNameAsEnterDoes) {
  for (const bool signalled : {true, false}) {
    Terminal terminal(NameThenScore);
    ASSERT_TRUE(terminal.WaitForRawMode());
    terminal.Send("ab");
    ASSERT_TRUE(terminal.WaitForOutput("ab"));
    if (signalled) {
      kill(terminal.Pid(), SIGHUP);
    } else {
      terminal.HangUp();
    }
    const Terminal::Result result = terminal.Finish();
    EXPECT_TRUE(WIFEXITED(result.Status) && WEXITSTATUS(result.Status) == 0)
        << (signalled ? "signal: " : "gone: ") << "status " << result.Status;
    if (signalled) {
      EXPECT_TRUE(IsLineMode(terminal.Mode())) << "the terminal's mode is back";
    }
  }
}

TEST(LineEditor, FailedEchoEndsWithTheRunTimeErrorAndRestoresTheTerminal) {
  Terminal terminal([] {
    const int full = open("/dev/full", O_WRONLY);
    if (full < 0) _exit(2);
    dup2(full, STDOUT_FILENO);
    ReadLine();
  });
  ASSERT_TRUE(terminal.WaitForRawMode());
  terminal.Send("a");
  const Terminal::Result result = terminal.Finish();
  ASSERT_TRUE(WIFEXITED(result.Status));
  EXPECT_EQ(WEXITSTATUS(result.Status), 101);
  EXPECT_TRUE(IsLineMode(terminal.Mode()));
}

TEST(Console, ClrScrClearsOnlyATerminal) {
  Terminal terminal([] { ClrScr(); });
  const Terminal::Result result = terminal.Finish();
  EXPECT_TRUE(WIFEXITED(result.Status) && WEXITSTATUS(result.Status) == 0);
  const std::string& written = terminal.Output();
  EXPECT_NE(written.find("\x1b[2J"), std::string::npos) << testing::PrintToString(written);
  EXPECT_NE(written.find("\x1b[H"), std::string::npos);

  std::fflush(stdout);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const int saved = dup(STDOUT_FILENO);
  dup2(out[1], STDOUT_FILENO);
  ClrScr();
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  close(out[1]);
  char byte;
  EXPECT_EQ(read(out[0], &byte, 1), 0) << "nothing is written into a pipe";
  close(out[0]);
}

// Standard input replaced by a pipe holding the given bytes, for the life of the object.
class PipedInput {
 public:
  explicit PipedInput(const std::string& bytes) {
    int fds[2];
    if (pipe(fds) != 0) return;
    if (write(fds[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      ADD_FAILURE() << "could not fill the pipe";
    }
    close(fds[1]);
    saved_ = dup(STDIN_FILENO);
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
  }
  ~PipedInput() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
  }

 private:
  int saved_ = -1;
};

TEST(Console, LinesFromAPipeKeep255BytesAndEndAtEndOfInput) {
  PipedInput input(std::string(300, 'p') + "\nsecond\r\n\xe9t\xe9\n\nlast");
  EXPECT_EQ(ReadLine().View(), std::string(255, 'p'));
  EXPECT_EQ(ReadLine().View(), "second") << "the rest of the long line was consumed";
  EXPECT_EQ(ReadLine().View(), "\xe9t\xe9");
  EXPECT_EQ(ReadLine().View(), "");
  EXPECT_EQ(ReadLine().View(), "last") << "a last line without its line end";
  EXPECT_EQ(ReadLine().View(), "");
  EXPECT_EQ(ReadLine().View(), "") << "end of input keeps giving an empty name";
}

// A closed standard input is the end of input; a read that fails (here: a directory as input)
// is not.
TEST(Console, FailedReadEndsWithTheRunTimeError) {
  Terminal terminal([] {
    const int directory = open("/", O_RDONLY | O_DIRECTORY);
    if (directory < 0 || dup2(directory, STDIN_FILENO) < 0) _exit(99);
    ReadLine();
  });
  const Terminal::Result result = terminal.Finish();
  ASSERT_TRUE(WIFEXITED(result.Status));
  EXPECT_EQ(WEXITSTATUS(result.Status), 5);
  EXPECT_NE(terminal.Output().find("Runtime error 5 at $"), std::string::npos) << terminal.Output();
}

}  // namespace
