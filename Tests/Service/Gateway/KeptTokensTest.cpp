// Tokens a client saved, presented to the gateway after the service was
// restarted: good on the same state folder, refused when the signing key was
// lost (set aside as broken) or when there was no state folder at all.
#include "ServiceFixture.h"

#include "Support/LogCapture.h"

#include <gmock/gmock.h>

namespace orvex::service::test {
namespace {

namespace fs = std::filesystem;
constexpr const char* kProfile = "/api/client/fullprofile?tick=1&api=1&associationRequired=true";

class KeptTokens : public ServiceFixture {
 protected:
  int profileStatus(const std::string& accessToken) { return client->get(kGateway, kProfile, accessToken).status; }
  fs::path keyFile() const { return stateDir.path() / "identity" / "signing-key.pem"; }
};

TEST_F(KeptTokens, ATokenFromBeforeTheRestartIsStillAccepted) {
  start(true);
  std::string saved = token();
  ASSERT_EQ(profileStatus(saved), 200);
  restart();
  EXPECT_EQ(profileStatus(saved), 200);
}

TEST_F(KeptTokens, AfterACorruptKeyFileTheOldTokenIsRefusedAndTheFileKept) {
  start(true);
  std::string saved = token();
  client.reset();
  service.reset();
  orvex::test::writeFile(keyFile(), "garbage");
  orvex::test::LogCapture log;
  start(true);
  EXPECT_THAT(log.find(0, "Warning!"), ::testing::HasSubstr("signing-key.pem is not an RSA private key; kept it as"));
  bool keptAside = false;
  for (const auto& entry : fs::directory_iterator(keyFile().parent_path())) {
    keptAside |= entry.path().filename().string().starts_with("signing-key.pem.broken-") &&
                 orvex::test::readFile(entry.path()) == "garbage";
  }
  EXPECT_TRUE(keptAside);
  EXPECT_EQ(profileStatus(saved), 401);
  EXPECT_EQ(profileStatus(token()), 200);
}

TEST_F(KeptTokens, WithoutAStateFolderTokensDieWithTheService) {
  start(false);
  std::string saved = token();
  restart();
  EXPECT_EQ(profileStatus(saved), 401);
  EXPECT_FALSE(fs::exists(stateDir.path() / "identity"));
}

} // namespace
} // namespace orvex::service::test
