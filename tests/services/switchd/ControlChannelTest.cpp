// The control socket with real sockets: the line protocol, odd input, and the
// socket's mode.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "SwitchdFixture.h"
#include "services/switchd/ControlChannel.h"

namespace switchd_test {
namespace {

using switchd::ControlAnswer;
using switchd::ControlServer;
using switchd::SendControlCommand;

// Answers "echo WORDS" with the words, anything else with an error.
ControlAnswer Echo(const std::string& line) {
  if (line.rfind("echo", 0) == 0) return {{"[" + line + "]"}, true, ""};
  return {{}, false, "no"};
}

// Sends raw bytes and returns everything the server answers.
std::string RawExchange(const std::string& path, const std::string& bytes) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return "connect failed";
  }
  send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);  // blocks until all is sent
  shutdown(fd, SHUT_WR);
  std::string answer;
  char buffer[1024];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
  close(fd);
  return answer;
}

class ControlChannelTest : public DataDirFixture {
 protected:
  void SetUp() override {
    DataDirFixture::SetUp();
    path_ = root_ + "/run/ctl";
  }
  std::string path_;
};

TEST_F(ControlChannelTest, CommandIsAnsweredWithItsLinesAndAFinalStatus) {
  ControlServer server;
  std::string error;
  ASSERT_TRUE(server.Start(path_, Echo, &error)) << error;
  std::string answer;
  ASSERT_TRUE(SendControlCommand(path_, "echo a b", &answer, &error)) << error;
  EXPECT_EQ(answer, "[echo a b]\nOK\n");
  ASSERT_TRUE(SendControlCommand(path_, "other", &answer, &error));
  EXPECT_EQ(answer, "ERROR no\n");
  // clang-format off
  const std::pair<std::string, std::string> kRaw[] = {
      {"echo x\r\nsecond line\n", "[echo x]\nOK\n"},  // only the first line, without its CR
      {"echo y", "[echo y]\nOK\n"},                      // closed without a newline
      {std::string(switchd::kMaxControlLine + 100, 'x') + "\n", "ERROR command line too long\n"},
      {"echo " + std::string(switchd::kMaxControlLine - 5, 'y') + "\n", "[echo " + std::string(switchd::kMaxControlLine - 5, 'y') + "]\nOK\n"},
  };
  // clang-format on
  for (const auto& [sent, expected] : kRaw) {
    EXPECT_EQ(RawExchange(path_, sent), expected) << sent.substr(0, 20);
  }
}

// Without a group only the owner may connect; with one its members too.
TEST_F(ControlChannelTest, SocketModeAndGroupFollowTheGroupGiven) {
  for (const std::optional<gid_t> group : {std::optional<gid_t>(), std::optional(getgid())}) {
    ControlServer server;
    std::string error;
    ASSERT_TRUE(server.Start(path_, Echo, &error, group)) << error;
    struct stat info {};
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, group ? 0660u : 0600u);
    EXPECT_EQ(info.st_gid, group.value_or(info.st_gid));
  }
}

}  // namespace
}  // namespace switchd_test
