#include "platform/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "gtest/gtest.h"
#include "platform/local_socket.h"
#include "platform/unique_fd.h"
#include "tests/test_util.h"

namespace {

using platform::input_mode;
using platform::output_mode;
using platform::spawn_options;
using test_util::scoped_temp_dir;

spawn_options shell(const std::string& script) {
  spawn_options o;
  o.argv = {"/bin/sh", "-c", script};
  return o;
}

TEST(Spawn, CapturesBothStreamsApartAndGivesTheStatus) {
  spawn_options o = shell("echo out; echo err >&2; exit 4");
  o.out = output_mode::capture;
  o.err = output_mode::capture;
  std::string err;
  auto r = platform::spawn(o, &err);
  ASSERT_TRUE(r) << err;
  EXPECT_EQ(4, r->status);
  EXPECT_EQ("out\n", r->out);
  EXPECT_EQ("err\n", r->err);
}

TEST(Spawn, StandardOutputGoesToTheCallersStandardError) {
  // This process's standard error is a file for the length of the test.
  scoped_temp_dir dir;
  platform::unique_fd file(::open((dir / "stderr").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_TRUE(file);
  platform::unique_fd saved(::dup(STDERR_FILENO));
  ASSERT_EQ(STDERR_FILENO, ::dup2(file.get(), STDERR_FILENO));
  spawn_options o = shell("echo moved; echo said >&2");
  o.out = output_mode::to_stderr;
  auto r = platform::spawn(o, nullptr);
  ::dup2(saved.get(), STDERR_FILENO);
  ASSERT_TRUE(r);
  EXPECT_EQ("", r->out);
  EXPECT_EQ("moved\nsaid\n", test_util::read_file(dir / "stderr"));
}

TEST(Spawn, InputIsEmptyAndTheEnvironmentExactlyTheOneGiven) {
  spawn_options o = shell("cat; echo \"[$ONLY][${HOME-unset}]\"; pwd");
  o.env = std::vector<std::string>{"ONLY=this"};
  o.out = output_mode::capture;
  scoped_temp_dir dir;
  o.dir = dir.path();
  o.in = input_mode::null;
  auto r = platform::spawn(o, nullptr);
  ASSERT_TRUE(r);
  EXPECT_EQ("[this][unset]\n" + dir.path() + "\n", r->out);
}

TEST(Spawn, TheCallersEnvironmentAndPathWhenNoneIsGiven) {
  ::setenv("SPAWN_TEST_MARK", "inherited", 1);
  spawn_options o;
  o.argv = {"sh", "-c", "echo $SPAWN_TEST_MARK"};  // found through PATH
  o.out = output_mode::capture;
  o.err = output_mode::null;
  auto r = platform::spawn(o, nullptr);
  ::unsetenv("SPAWN_TEST_MARK");
  ASSERT_TRUE(r);
  EXPECT_EQ("inherited\n", r->out);
}

TEST(Spawn, AProgramThatCannotStartIsToldFromOneThatExits127) {
  scoped_temp_dir dir;
  spawn_options missing;
  missing.argv = {dir.path() + "/absent"};
  std::string err;
  EXPECT_FALSE(platform::spawn(missing, &err));
  EXPECT_EQ(dir.path() + "/absent: cannot be run: No such file or directory", err);

  spawn_options elsewhere = shell("true");
  elsewhere.dir = dir.path() + "/no-dir";
  EXPECT_FALSE(platform::spawn(elsewhere, &err));
  EXPECT_NE(std::string::npos, err.find("cannot be run in " + dir.path() + "/no-dir"));

  auto r = platform::spawn(shell("exit 127"), &err);
  ASSERT_TRUE(r) << err;
  EXPECT_EQ(127, r->status);
}

TEST(Spawn, RunProgramReportsAProgramThatCannotStart) {
  scoped_temp_dir dir;
  test_util::write_file(dir / "cgi", "no interpreter line, not executable\n");
  platform::program_result r;
  std::string err;
  EXPECT_FALSE(platform::run_program(dir / "cgi", dir.path(), {}, &r, &err));
  EXPECT_EQ(dir / "cgi" + ": cannot be run in " + dir.path() + ": Permission denied", err);
}

TEST(Spawn, InputFromAFileErrorsIntoAFileAndNoSignalBlocked) {
  scoped_temp_dir dir;
  test_util::write_file(dir / "in", "given\n");
  test_util::write_file(dir / "err", "what was there before\n");
  // A caller that blocks a signal (as a thread of a program that waits for
  // its signals elsewhere) does not hand that on.
  sigset_t usr1, before;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  ASSERT_EQ(0, pthread_sigmask(SIG_BLOCK, &usr1, &before));
  spawn_options o = shell("cat; grep SigBlk /proc/self/status >&2");
  o.in = input_mode::file;
  o.in_file = dir / "in";
  o.out = output_mode::capture;
  o.err = output_mode::file;
  o.err_file = dir / "err";
  auto r = platform::spawn(o, nullptr);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  ASSERT_TRUE(r);
  EXPECT_EQ("given\n", r->out);
  EXPECT_EQ("SigBlk:\t0000000000000000\n", test_util::read_file(dir / "err"));

  o.in_file = dir / "absent";
  std::string err;
  EXPECT_FALSE(platform::spawn(o, &err));
  EXPECT_EQ(dir / "absent" + ": No such file or directory", err);
}

TEST(Start, AChildRunsBesideItsCallerThroughPipes) {
  // A caller that ignores the pipe signal does not hand that on: the child
  // is told of its own closed pipe as any program is.
  struct sigaction ignore {}, before {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(0, sigaction(SIGPIPE, &ignore, &before));
  spawn_options o = shell("grep SigIgn /proc/self/status; while read -r line; do echo \"got $line\"; done");
  o.in = input_mode::pipe;
  o.out = output_mode::capture;
  auto child = platform::start(o, nullptr);
  sigaction(SIGPIPE, &before, nullptr);
  ASSERT_TRUE(child);
  EXPECT_TRUE(child->running());
  ASSERT_TRUE(platform::write_all(child->input(), "one\ntwo\n"));
  std::string said;
  char buf[256];
  while (said.find("got two\n") == std::string::npos) {
    long n = platform::read_some(child->output(), buf, sizeof buf, 10000);
    ASSERT_GT(n, 0);
    said.append(buf, static_cast<size_t>(n));
  }
  EXPECT_EQ("SigIgn:\t0000000000000000\ngot one\ngot two\n", said);
  EXPECT_EQ(0, child->finish());  // its input ends, and so does it
  EXPECT_FALSE(child->running());

  // Going out of scope ends a child that would run on.
  auto sleeper = platform::start(shell("exec sleep 60"), nullptr);
  ASSERT_TRUE(sleeper);
  auto t0 = std::chrono::steady_clock::now();
  sleeper.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(30));

  spawn_options missing;
  missing.argv = {"/nonexistent/program"};
  std::string err;
  EXPECT_FALSE(platform::start(missing, &err));
  EXPECT_EQ("/nonexistent/program: cannot be run: No such file or directory", err);
}

TEST(LocalSocket, ConnectsThisUsersProcessesAndReplacesALeftover) {
  scoped_temp_dir dir;
  const std::string path = dir / "sock";
  std::string err;
  {
    platform::unique_fd first = platform::listen_local(path, &err);
    ASSERT_TRUE(first) << err;
    // Someone listens there: not taken over.
    EXPECT_FALSE(platform::listen_local(path, &err));
  }
  // Its listener gone, the socket file is a leftover.
  platform::unique_fd listener = platform::listen_local(path, &err);
  ASSERT_TRUE(listener) << err;
  platform::unique_fd client = platform::connect_local(path, &err);
  ASSERT_TRUE(client) << err;
  platform::unique_fd served = platform::accept_local(listener.get(), 5000);
  ASSERT_TRUE(served);
  EXPECT_TRUE(platform::write_all(client.get(), "hello"));
  char buf[16];
  EXPECT_EQ(5, platform::read_some(served.get(), buf, sizeof buf, 5000));
  EXPECT_EQ(-1, platform::read_some(served.get(), buf, sizeof buf, 10));  // nothing more yet
  client.reset();
  EXPECT_EQ(0, platform::read_some(served.get(), buf, sizeof buf, 5000));
  // Writing to a closed end fails without a signal.
  EXPECT_FALSE(platform::write_all(served.get(), std::string(1 << 20, 'x')));
  EXPECT_FALSE(platform::accept_local(listener.get(), 10));
  test_util::write_file(dir / "plain", "x");
  EXPECT_FALSE(platform::listen_local(dir / "plain", &err));
  EXPECT_EQ("x", test_util::read_file(dir / "plain"));
}

TEST(SpawnDeathTest, AStopSignalEndsTheChildrenAndIsNoted) {
  // In a process of its own: the signals stay caught once asked for.
  EXPECT_EXIT(
      {
        platform::catch_stop_signals();
        std::thread stopper([] {
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          ::kill(::getpid(), SIGTERM);
        });
        auto start = std::chrono::steady_clock::now();
        auto r = platform::spawn(shell("exec sleep 20"), nullptr);
        stopper.join();
        bool quick = std::chrono::steady_clock::now() - start < std::chrono::seconds(10);
        std::string err;
        bool refused = !platform::spawn(shell("true"), &err) &&
                       err == "/bin/sh: not started: this program is stopping";
        std::_Exit(r && r->status == -1 && quick && platform::stop_requested() && refused ? 7 : 1);
      },
      ::testing::ExitedWithCode(7), "");
}

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

TEST(UniqueFd, ClosesOnceWhenItsLastOwnerGoes) {
  int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(raw, 0);
  {
    platform::unique_fd a(raw);
    platform::unique_fd b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(raw, b.get());
    platform::unique_fd c;
    c = std::move(b);
    EXPECT_TRUE(is_open(raw));
  }
  EXPECT_FALSE(is_open(raw));
}

TEST(UniqueFd, ResetClosesTheOldAndReleaseGivesUp) {
  int first = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  int second = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  platform::unique_fd fd(first);
  fd.reset(second);
  EXPECT_FALSE(is_open(first));
  EXPECT_EQ(second, fd.release());
  EXPECT_FALSE(fd);
  EXPECT_TRUE(is_open(second));
  EXPECT_TRUE(fd.close());  // nothing held
  ::close(second);
}

}  // namespace
