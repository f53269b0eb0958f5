#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "tavsrv/Flags.h"
#include "tavsrv/HostPort.h"
#include "tavsrv/Program.h"

using tavsrv::Flags;

namespace {
Flags makeFlags() {
  Flags flags;
  flags.define("port", "27800", "port");
  flags.define("data", "", "data folder");
  flags.defineSwitch("verbose", "more output");
  return flags;
}
}  // namespace

TEST(FlagsTest, ParsesBothFormsSwitchesAndDefaults) {
  Flags flags = makeFlags();
  const char* argv[] = {"prog", "--port", "123", "--data=/tmp/x", "--verbose"};
  std::string error;
  ASSERT_TRUE(flags.parse(5, argv, &error)) << error;
  long long port = 0;
  EXPECT_TRUE(flags.getInt("port", 0, 65535, &port));
  EXPECT_EQ(port, 123);
  EXPECT_EQ(flags.get("data"), "/tmp/x");
  EXPECT_TRUE(flags.getSwitch("verbose"));

  Flags defaults = makeFlags();
  const char* none[] = {"prog"};
  ASSERT_TRUE(defaults.parse(1, none, &error));
  EXPECT_EQ(defaults.get("port"), "27800");
  EXPECT_FALSE(defaults.isSet("port"));
}

TEST(FlagsTest, RefusesUnknownFlagsMissingValuesAndBadNumbers) {
  std::string error;
  Flags a = makeFlags();
  const char* unknown[] = {"prog", "--nope", "1"};
  EXPECT_FALSE(a.parse(3, unknown, &error));
  EXPECT_NE(error.find("--nope"), std::string::npos);
  Flags b = makeFlags();
  const char* missing[] = {"prog", "--port"};
  EXPECT_FALSE(b.parse(2, missing, &error));
  Flags c = makeFlags();
  const char* bad[] = {"prog", "--port=12x"};
  ASSERT_TRUE(c.parse(2, bad, &error));
  long long port = 0;
  EXPECT_FALSE(c.getInt("port", 0, 65535, &port));
}

TEST(FlagsTest, ConfigFileFillsWhatTheCommandLineLeavesOpen) {
  const auto path = std::filesystem::temp_directory_path() / "tav_flags_test.conf";
  {
    std::ofstream out(path);
    out << "# comment\nport = 999\n\ndata /srv/data\n";
  }
  Flags flags = makeFlags();
  const std::string config = "--config=" + path.string();
  const char* argv[] = {"prog", "--port", "1", config.c_str()};
  std::string error;
  ASSERT_TRUE(flags.parse(4, argv, &error)) << error;
  EXPECT_EQ(flags.get("port"), "1");
  EXPECT_EQ(flags.get("data"), "/srv/data");
  std::filesystem::remove(path);
}

TEST(FlagsTest, ListsGatherRepeatsAndTheCommandLineReplacesTheFile) {
  std::string pattern = (std::filesystem::temp_directory_path() / "tavflagsXXXXXX").string();
  const int fd = mkstemp(pattern.data());
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(pattern) << "node = a:1\nnode = b:2 , \n";
  const auto parse = [&](std::vector<const char*> argv) {
    Flags flags;
    flags.defineList("node", "nodes");
    const std::string config = "--config=" + pattern;
    argv.insert(argv.begin(), "prog");
    argv.push_back(config.c_str());
    std::string error;
    EXPECT_TRUE(flags.parse(static_cast<int>(argv.size()), argv.data(), &error)) << error;
    return flags.getList("node");
  };
  EXPECT_EQ(parse({}), (std::vector<std::string>{"a:1", "b:2"}));
  EXPECT_EQ(parse({"--node", "c:3, d:4", "--node=e:5"}),
            (std::vector<std::string>{"c:3", "d:4", "e:5"}));
  std::filesystem::remove(pattern);
}

TEST(FlagsTest, HostPortParsing) {
  auto hp = tavsrv::parseHostPort("127.0.0.1:27801");
  ASSERT_TRUE(hp);
  EXPECT_EQ(hp->host, "127.0.0.1");
  EXPECT_EQ(hp->port, 27801);
  EXPECT_EQ(hp->str(), "127.0.0.1:27801");
  EXPECT_FALSE(tavsrv::parseHostPort("host"));
  EXPECT_FALSE(tavsrv::parseHostPort("host:70000"));
  EXPECT_FALSE(tavsrv::parseHostPort("host:0"));
  EXPECT_TRUE(tavsrv::parseHostPort("host:0", true));
  EXPECT_FALSE(tavsrv::parseHostPort(":80"));
}

// A role listens at its port of the table unless --listen names another address; a base that
// would push the role's ports past 65535, or an address without a port, is refused.
TEST(FlagsTest, ListenAddressComesFromListenOrThePortTable) {
  const auto listen = [](std::vector<const char*> args, tavsrv::HostPort* out) {
    Flags flags;
    flags.define("listen", "", "address");
    flags.define("port-base", "27800", "base");
    args.insert(args.begin(), "prog");
    std::string error;
    return flags.parse(static_cast<int>(args.size()), args.data(), &error) &&
           tavsrv::listenFromFlags(flags, tavsrv::RolePort::Msg, 65534, out, &error);
  };
  tavsrv::HostPort at;
  ASSERT_TRUE(listen({}, &at));
  EXPECT_EQ(at, (tavsrv::HostPort{"127.0.0.1", 27801}));
  ASSERT_TRUE(listen({"--port-base", "30000"}, &at));
  EXPECT_EQ(at.port, 30001);
  ASSERT_TRUE(listen({"--port-base", "30000", "--listen", "0.0.0.0:0"}, &at));
  EXPECT_EQ(at, (tavsrv::HostPort{"0.0.0.0", 0}));
  EXPECT_FALSE(listen({"--port-base", "65535"}, &at));
  EXPECT_FALSE(listen({"--listen", "127.0.0.1"}, &at));
}
