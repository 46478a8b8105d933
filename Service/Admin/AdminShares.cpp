// Shares as an administrator changes them (add, remove, rename, change the
// ACL), and what a test inspects of them: their ticks, their nodes with
// content hashes, and a node's contents.
#include "Admin/AdminApi.h"

#include "Api/Replies.h"
#include "Config/ConfigReader.h"
#include "Config/ServiceConfig.h"

#include <httplib.h>

#include <algorithm>

namespace orvex::service {
namespace {

ShareInfo shareOf(const ConfigObject& body, const ServiceConfig& config) {
  ShareInfo share = shareFieldsOf(body);
  share.parentShareId = body.optionalString("ParentShareId");
  share.internalName = body.optionalString("InternalName");
  if (std::find(config.domains.begin(), config.domains.end(), share.domain) == config.domains.end())
    body.fail("Domain", "is not a domain of the service");
  if (share.parentShareId.has_value() != share.internalName.has_value())
    body.fail("InternalName", "must be given with \"ParentShareId\" (a subfolder share), or neither");
  return share;
}

void replyShare(const AdminCall& call, int status, const StateResult<ShareInfo>& share) {
  if (share.ok())
    replyJson(call.response, status, share->toJson().dump());
  else
    replyError(call.response, share.error());
}

void replyNodes(const AdminCall& call, const StateResult<std::vector<OVVirtualFile>>& nodes) {
  if (!nodes.ok())
    return replyError(call.response, nodes.error());
  nlohmann::json list = nlohmann::json::array();
  for (const OVVirtualFile& node : *nodes)
    list.push_back(node.toJSONObject());
  replyJson(call.response, 200, list.dump());
}

} // namespace

void AdminApi::addShareRoutes() {
  ServiceState& state = context_.state;
  const ServiceConfig& config = context_.config;

  add("GET", "/shares", [&state](const AdminCall& call) {
    nlohmann::json list = nlohmann::json::array();
    for (const ShareInfo& share : state.shares()) {
      nlohmann::json json = share.toJson();
      // A page past every tick: nothing but the share's current tick.
      if (auto page = state.catchUp(share.shareId, INT64_MAX, 1))
        json["ShareTick"] = page->ShareTick;
      list.push_back(std::move(json));
    }
    replyJson(call.response, 200, list.dump());
  });
  add("POST", "/shares", [&state, &config](const AdminCall& call) {
    const nlohmann::json json = call.body();
    replyShare(call, 201, state.addShare(shareOf(ConfigObject(json, "request", ""), config)));
  });
  add("DELETE", "/shares/:share",
      [&state](const AdminCall& call) { replyShare(call, 200, state.removeShare(call.parameters[0])); });
  add("PATCH", "/shares/:share", [&state](const AdminCall& call) {
    const nlohmann::json json = call.body();
    ConfigObject body(json, "request", "");
    body.allowOnly({"Name"});
    const std::string name = body.string("Name");
    if (name.empty())
      body.fail("Name", "must not be empty");
    replyShare(call, 200, state.renameShare(call.parameters[0], name));
  });
  add("PUT", "/shares/:share/acl", [&state](const AdminCall& call) {
    const nlohmann::json json = call.body();
    ConfigObject body(json, "request", "");
    body.allowOnly({"AclType", "AclToken"});
    if (!body.has("AclType"))
      body.fail("AclType", "is missing");
    const auto aclType = static_cast<std::int32_t>(*body.optionalInteger("AclType", INT32_MIN, INT32_MAX));
    replyShare(call, 200, state.setAcl(call.parameters[0], aclType, body.string("AclToken")));
  });

  add("GET", "/shares/:share/nodes",
      [&state](const AdminCall& call) { replyNodes(call, state.nodes(call.parameters[0])); });
  add("GET", "/shares/:share/nodes/:node", [&state](const AdminCall& call) {
    std::optional<OVVirtualFile> node = state.node(call.parameters[0], call.parameters[1]);
    if (!node)
      return replyMessage(call.response, 404, "No node " + call.parameters[1] + " in share " + call.parameters[0]);
    replyJson(call.response, 200, node->toJSONText());
  });
  add("GET", "/shares/:share/nodes/:node/content", [&state](const AdminCall& call) {
    std::optional<OVVirtualFile> node = state.node(call.parameters[0], call.parameters[1]);
    if (!node || node->Deleted || !node->UploadName)
      return replyMessage(call.response, 404, "No contents of " + call.parameters[1] + " in " + call.parameters[0]);
    auto content = state.content(call.parameters[0], *node->UploadName);
    if (!content.ok())
      return replyError(call.response, content.error());
    replyContent(call.response, content->content, 0, content->content->size(), "application/octet-stream");
  });
}

} // namespace orvex::service
