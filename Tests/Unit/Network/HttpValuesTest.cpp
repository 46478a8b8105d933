// The plain values the HTTP client works with: header fields, form bodies,
// the checks a request passes before it is sent, cookie-store lines and the
// client's options for a deployment.
#include "Network/HttpClientOptions.h"
#include "Network/HttpCookie.h"
#include "Network/HttpRequest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace orvex {
namespace {

TEST(HttpRequestTest, FormBodiesEncodeEverythingButUnreservedCharacters) {
  HttpRequest request;
  request.setFormBody({{"grant_type", "authorization_code"},
                       {"redirect_uri", "com.orvex.macclient:/oauth2callback"},
                       {"code", "a b+c&d=é~"}});
  EXPECT_EQ(request.headers.get("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(request.body,
            "grant_type=authorization_code&redirect_uri=com.orvex.macclient%3A%2Foauth2callback"
            "&code=a+b%2Bc%26d%3D%C3%A9~");
}

TEST(HttpRequestTest, RequestsThatWouldSmuggleHeadersAreRefused) {
  HttpRequest good;
  good.url = "https://example.com/";
  good.headers.set("Authorization", "Bearer abc");
  EXPECT_EQ(requestProblem(good), std::nullopt);

  auto with = [&](auto change) {
    HttpRequest bad = good;
    change(bad);
    return requestProblem(bad).has_value();
  };
  EXPECT_TRUE(with([](HttpRequest& r) { r.url.clear(); }));
  EXPECT_TRUE(with([](HttpRequest& r) { r.url += "\r\nX: y"; }));
  EXPECT_TRUE(with([](HttpRequest& r) { r.method = "GET /other"; }));
  EXPECT_TRUE(with([](HttpRequest& r) { r.headers.set("Authorization", "Bearer abc\r\nX-Evil: 1"); }));
  EXPECT_TRUE(with([](HttpRequest& r) { r.headers.set("Bad Name", "v"); }));
  EXPECT_TRUE(with([](HttpRequest& r) { r.headers.set("X", std::string("a\0b", 3)); }));
  EXPECT_TRUE(with([](HttpRequest& r) { r.basicAuth = HttpBasicAuth{"client:id", "secret"}; }));
  EXPECT_FALSE(with([](HttpRequest& r) { r.basicAuth = HttpBasicAuth{"client", "pass:word"}; }));
}

TEST(HttpCookieTest, StoreLinesRoundTripAndRefuseBrokenFields) {
  HttpCookie cookie{".ASPXAUTH", "0A1B2C", "gateway.orvex.example", "/", false, false};
  auto line = cookieStoreLine(cookie);
  ASSERT_TRUE(line);
  EXPECT_EQ(*line, "gateway.orvex.example\tFALSE\t/\tFALSE\t0\t.ASPXAUTH\t0A1B2C");
  EXPECT_EQ(parseCookieStoreLine(*line), cookie);
  EXPECT_EQ(parseCookieStoreLine("#HttpOnly_.orvex.example\tTRUE\t/\tTRUE\t0\tsid\tv"),
            (HttpCookie{"sid", "v", "orvex.example", "/", true, true}));
  EXPECT_EQ(parseCookieStoreLine("# Netscape HTTP Cookie File"), std::nullopt);

  for (auto broken :
       {HttpCookie{"", "v", "h.example"}, HttpCookie{"a b", "v", "h.example"}, HttpCookie{"n", "v\tx", "h.example"},
        HttpCookie{"n", "v;x", "h.example"}, HttpCookie{"n", "v\nx", "h.example"}, HttpCookie{"n", "v", "h.example/x"},
        HttpCookie{"n", "v", ""}, HttpCookie{"n", "v", "h.example", "nopath"}})
    EXPECT_EQ(cookieStoreLine(broken), std::nullopt) << broken.name << " " << broken.value << " " << broken.domain;
}

TEST(HttpCookieTest, HostOnlyAndDomainCookies) {
  HttpCookie hostOnly{"n", "v", "gateway.orvex.example"};
  EXPECT_TRUE(cookieMatchesHost(hostOnly, "GATEWAY.orvex.example"));
  EXPECT_FALSE(cookieMatchesHost(hostOnly, "files.orvex.example"));
  EXPECT_FALSE(cookieMatchesHost(hostOnly, "x.gateway.orvex.example"));
  HttpCookie domain{"n", "v", "orvex.example", "/", true};
  EXPECT_TRUE(cookieMatchesHost(domain, "files.orvex.example"));
  EXPECT_TRUE(cookieMatchesHost(domain, "orvex.example"));
  EXPECT_FALSE(cookieMatchesHost(domain, "evilorvex.example"));
}

TEST(HttpClientOptionsTest, LoopbackAndConnectToHostsBypassProxies) {
  Deployment deployment;
  deployment.caFile = "/etc/orvex/ca.pem";
  deployment.connectTo = {"gateway.orvex.example:443:127.0.0.1:8443", "files.orvex.example::127.0.0.1:8443"};
  XdgEnvironment env;
  env.variable = [](const std::string& name) -> std::optional<std::string> {
    if (name == "NO_PROXY")
      return "intranet.corp";
    return std::nullopt;
  };
  auto options = HttpClientOptions::forDeployment(deployment, env);
  EXPECT_EQ(options.caFile, deployment.caFile);
  EXPECT_EQ(options.connectTo, deployment.connectTo);
  EXPECT_EQ(options.noProxy, "intranet.corp,127.0.0.1,localhost,::1,gateway.orvex.example,files.orvex.example");

  deployment.connectTo = {"::127.0.0.1:8443"};
  EXPECT_EQ(HttpClientOptions::forDeployment(deployment, XdgEnvironment{}).noProxy, "127.0.0.1,localhost,::1,*");
}

} // namespace
} // namespace orvex
