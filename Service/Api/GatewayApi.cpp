#include "Api/GatewayApi.h"

#include "Api/Replies.h"
#include "Sync/ProfileRecords.h"
#include "Sync/PublicLinkRecords.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>

namespace orvex::service {
namespace {

std::optional<std::int64_t> integerParameter(const httplib::Request& request, const char* name) {
  if (!request.has_param(name))
    return std::nullopt;
  const std::string text = request.get_param_value(name);
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size())
    return std::nullopt;
  return value;
}

ManagedShare managedShare(const ShareView& view) {
  const ShareInfo& info = view.info;
  ManagedShare share;
  share.ShareId = info.shareId;
  share.ShareName = info.name;
  if (!info.companyId.empty())
    share.CompanyId = info.companyId;
  if (view.company) {
    share.CompanyName = view.company->name;
    share.AssociationType = view.company->associationType;
  }
  share.ShareAcl.emplace();
  share.ShareAcl->ShareId = info.shareId;
  share.ShareAcl->AclType = info.aclType;
  share.ShareAcl->AclToken = info.aclToken;
  if (info.isSubfolder()) {
    share.ShareType = 1;
    share.ParentShareId = info.parentShareId;
    share.InternalName = info.internalName;
  }
  share.Online = true;
  share.GateWayUrl = info.domain;
  return share;
}

ClientLoginResponse profileOf(const ApiContext& context, const std::string& email, const std::string& domain,
                              std::string cookie) {
  ClientLoginResponse profile;
  const UserConfig* user = context.config.user(email);
  profile.User.emplace();
  profile.User->UserId = user != nullptr ? user->userId : email;
  profile.User->Email = email;
  profile.User->Name = user != nullptr ? user->identity.displayName : email;
  profile.ManagedShares.emplace();
  profile.SharingCompanies.emplace();
  for (const ShareView& view : context.state.sharesFor(email, domain)) {
    profile.ManagedShares->push_back(managedShare(view));
    bool listed = std::any_of(profile.SharingCompanies->begin(), profile.SharingCompanies->end(),
                              [&](const SharingCompany& c) { return c.CompanyId == view.info.companyId; });
    if (view.company && !listed) {
      SharingCompany company;
      company.CompanyId = view.company->companyId;
      company.AssociationType = view.company->associationType;
      profile.SharingCompanies->push_back(std::move(company));
    }
  }
  profile.Cookie = std::move(cookie);
  profile.FilecacheUrls = std::vector<std::string>{"https://" + context.hosts.hostOf(HostKind::FileCache, domain)};
  return profile;
}

} // namespace

void GatewayApi::handle(const httplib::Request& request, httplib::Response& response, const std::string& domain) {
  using Endpoint =
      void (GatewayApi::*)(const httplib::Request&, httplib::Response&, const std::string&, const AccessClaims&);
  struct Route {
    const char* path;
    const char* method;
    Endpoint endpoint;
  };
  static constexpr Route kRoutes[] = {{"/api/client/fullprofile", "GET", &GatewayApi::fullProfile},
                                      {"/api/client/catchup", "GET", &GatewayApi::catchUp},
                                      {"/api/publiclinks", "POST", &GatewayApi::publicLink}};
  for (const Route& route : kRoutes) {
    if (request.path != route.path)
      continue;
    if (request.method != route.method) {
      response.set_header("Allow", route.method);
      replyMessage(response, 405, std::string("Use ") + route.method);
    } else if (auto claims = authorize(context_.verifier, request, response, domain)) {
      (this->*route.endpoint)(request, response, domain, *claims);
    }
    return;
  }
  replyMessage(response, 404, "No such endpoint: " + request.path);
}

void GatewayApi::fullProfile(const httplib::Request& /*request*/, httplib::Response& response,
                             const std::string& domain, const AccessClaims& claims) {
  std::string cookie = context_.state.issueHubCookie(claims.subject);
  FullProfileData reply;
  reply.Data = profileOf(context_, claims.subject, domain, cookie);
  response.set_header("Set-Cookie", ".ASPXAUTH=" + cookie + "; Path=/; HttpOnly");
  replyJson(response, 200, reply.toJSONText());
}

void GatewayApi::catchUp(const httplib::Request& request, httplib::Response& response, const std::string& domain,
                         const AccessClaims& claims) {
  for (const char* name : {"tickfrom", "tickstart", "ticktake"}) {
    if (!integerParameter(request, name))
      return replyMessage(response, 400, std::string("The query needs an integer \"") + name + "\"");
  }
  if (!request.has_param("token") || !request.has_param("shareId"))
    return replyMessage(response, 400, "The query needs \"token\" and \"shareId\"");
  const std::string shareId = request.get_param_value("shareId");
  auto share = context_.state.shareFor(claims.subject, domain, shareId);
  if (!share)
    return replyMessage(response, share.error().status, share.error().message);
  if (request.get_param_value("token") != share->aclToken)
    return replyMessage(response, 403, "The token does not authorize catch-up of share " + shareId);
  auto page =
      context_.state.catchUp(shareId, *integerParameter(request, "tickfrom"), *integerParameter(request, "ticktake"));
  if (!page)
    return replyMessage(response, page.error().status, page.error().message);
  replyJson(response, 200, page->toJSONText());
}

void GatewayApi::publicLink(const httplib::Request& request, httplib::Response& response, const std::string& domain,
                            const AccessClaims& claims) {
  auto body = OVNewAPICreatePublicLink::fromJSONText(request.body);
  if (!body)
    return replyMessage(response, 400, "Malformed public link request: " + body.error());
  if (!body->ShareId || !body->InternalName)
    return replyMessage(response, 400, "A public link needs \"ShareId\" and \"InternalName\"");
  auto share = context_.state.shareFor(claims.subject, domain, *body->ShareId);
  auto link = share ? context_.state.createPublicLink(*body->ShareId, *body->InternalName)
                    : StateResult<std::string>(share.error());
  if (!link)
    return replyMessage(response, link.error().status, link.error().message);
  OVNewAPICreatePublicLinkResponce reply;
  reply.Data.emplace();
  reply.Data->FullLink = "https://" + context_.hosts.hostOf(HostKind::FrontEnd, domain) + "/l/" + *link;
  replyJson(response, 201, reply.toJSONText());
}

} // namespace orvex::service
