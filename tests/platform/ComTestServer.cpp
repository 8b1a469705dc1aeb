// A server process for the remoting tests: serves the test object on the
// socket path given as its argument, prints "ready" once it listens and
// "slow" whenever a slow call starts waiting.  Runs until it is killed or
// sent SIGTERM.
#include <signal.h>

#include <cstdio>
#include <string>

#include "RemoteTestObject.h"
#include "platform/com/ComRemoting.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s SOCKET-PATH\n", argv[0]);
    return 2;
  }
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  remote_test::TestObject object;
  object.on_slow_call = [] {
    std::printf("slow\n");
    std::fflush(stdout);
  };
  platform::ComServer server;
  server.RegisterClassObject(remote_test::kClsid, [&object](REFIID iid, void** result) {
    return object.QueryInterface(iid, result);
  });
  platform::ComServer::Options options;
  options.path = argv[1];
  std::string error;
  if (!server.Start(options, &error)) {
    std::fprintf(stderr, "com_test_server: %s\n", error.c_str());
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  int signal_number = 0;
  sigwait(&stop, &signal_number);
  server.Stop();
  return 0;
}
