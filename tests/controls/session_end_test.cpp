#include "controls/session_end.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <stdexcept>

namespace tarnwick::test {
namespace {

volatile sig_atomic_t earlierHandlerRan = 0;

void EarlierHandler(int) {
  earlierHandlerRan = 1;
}

// Runs the event loop until done() or a second has passed.
template <typename Done>
bool RunLoopUntil(Done done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 1000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

TEST(SessionEnd, SigtermAndSighupEndTheSessionOnTheLoopAndTheOldHandlersComeBack) {
  struct sigaction earlier = {};
  earlier.sa_handler = EarlierHandler;
  struct sigaction oldTerm = {};
  struct sigaction oldHup = {};
  ASSERT_EQ(sigaction(SIGTERM, &earlier, &oldTerm), 0);
  ASSERT_EQ(sigaction(SIGHUP, &earlier, &oldHup), 0);
  {
    SessionEnd end;
    EXPECT_THROW(SessionEnd(), std::logic_error);
    int endings = 0;
    QObject::connect(&end, &SessionEnd::Ending, [&] { ++endings; });
    raise(SIGTERM);
    raise(SIGTERM);
    EXPECT_EQ(endings, 0);  // not from the handler
    EXPECT_TRUE(RunLoopUntil([&] { return endings == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(endings, 1);
    raise(SIGHUP);
    EXPECT_TRUE(RunLoopUntil([&] { return endings == 2; }));
    EXPECT_EQ(earlierHandlerRan, 0);
  }
  raise(SIGTERM);
  EXPECT_EQ(earlierHandlerRan, 1);
  earlierHandlerRan = 0;
  raise(SIGHUP);
  EXPECT_EQ(earlierHandlerRan, 1);
  sigaction(SIGTERM, &oldTerm, nullptr);
  sigaction(SIGHUP, &oldHup, nullptr);
}

}  // namespace
}  // namespace tarnwick::test
