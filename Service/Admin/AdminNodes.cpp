// Acting as another user or device on the nodes of a share: the same state
// operations a client's journal events reach, so every change advances the
// share's tick and shows in catch-up like any other.
#include "Admin/AdminApi.h"

#include "Api/Replies.h"
#include "Config/ConfigReader.h"
#include "State/Ids.h"

#include <httplib.h>

namespace orvex::service {
namespace {

constexpr const char* kAdminDevice = "admin";

Actor actorOf(const ConfigObject& body) {
  Actor actor;
  actor.user = body.string("User");
  actor.deviceId = body.optionalString("DeviceId").value_or(kAdminDevice);
  actor.privileged = true;
  if (actor.user.empty())
    body.fail("User", "must not be empty");
  return actor;
}

// A file's new contents: a text ("Content") or deterministic bytes ("Size" and "Seed").
struct NewContents {
  std::string text;
  std::optional<std::uint64_t> seed;
  std::int64_t size = 0;
};

NewContents contentsOf(const ConfigObject& body) {
  NewContents contents;
  contents.seed = body.optionalUnsigned("Seed");
  std::optional<std::int64_t> size = body.optionalInteger("Size", 0, INT64_MAX);
  if (contents.seed.has_value() != size.has_value())
    body.fail(contents.seed ? "Size" : "Seed", "must be given with the other (seeded contents)");
  if (contents.seed && body.has("Content"))
    body.fail("Content", "cannot be combined with \"Seed\"");
  contents.text = body.optionalString("Content").value_or("");
  contents.size = size.value_or(static_cast<std::int64_t>(contents.text.size()));
  return contents;
}

template <class T>
bool failed(const AdminCall& call, const StateResult<T>& result) {
  if (!result.ok())
    replyError(call.response, result.error());
  return !result.ok();
}

void replyEvent(const AdminCall& call, int status, const StateResult<OVNewAPIJournalEvent>& event) {
  if (!failed(call, event))
    replyJson(call.response, status, event->toJSONText());
}

StateResult<OVNewAPIJournalEvent> putContents(ServiceState& state, const std::string& shareId,
                                              const OVVirtualFile& wanted, const NewContents& contents,
                                              const Actor& actor) {
  if (contents.seed)
    return state.putSeeded(shareId, wanted, *contents.seed, actor);
  return state.putFile(shareId, wanted, contents.text, actor);
}

StateResult<OVVirtualFile> liveNode(const ServiceState& state, const std::string& shareId, const std::string& id) {
  std::optional<OVVirtualFile> node = state.node(shareId, id);
  if (!node || node->Deleted)
    return StateError::unknownNode("No node " + id + " in share " + shareId);
  return *node;
}

} // namespace

void AdminApi::addNodeRoutes() {
  ServiceState& state = context_.state;
  Clock& clock = context_.clock;

  add("POST", "/shares/:share/nodes", [&state, &clock](const AdminCall& call) {
    const nlohmann::json json = call.body();
    ConfigObject body(json, "request", "");
    body.allowOnly({"User", "DeviceId", "InternalName", "ParentId", "Name", "Folder", "Content", "Size", "Seed"});
    const std::string& shareId = call.parameters[0];
    const Actor actor = actorOf(body);
    const bool folder = body.optionalBool("Folder").value_or(false);
    const NewContents contents = folder ? NewContents{} : contentsOf(body);
    if (folder && (body.has("Content") || body.has("Size") || body.has("Seed")))
      body.fail("Folder", "cannot be combined with contents");
    const std::string id = body.optionalString("InternalName").value_or(newGuid());
    const OVVirtualFile wanted = nodeSpec(id, body.optionalString("ParentId").value_or(shareId), body.string("Name"),
                                          !folder, contents.size, OVDate{clock.wallNow()});
    if (liveNode(state, shareId, id).ok())
      return replyMessage(call.response, 409, "A node with internal name " + id + " exists already");
    if (!folder)
      return replyEvent(call, 201, putContents(state, shareId, wanted, contents, actor));
    auto created = state.create(shareId, wanted, actor, newGuid());
    if (!failed(call, created))
      replyJson(call.response, 201, created->data.ClientJournalEvent->toJSONText());
  });

  add("PUT", "/shares/:share/nodes/:node/content", [&state, &clock](const AdminCall& call) {
    const nlohmann::json json = call.body();
    ConfigObject body(json, "request", "");
    body.allowOnly({"User", "DeviceId", "Content", "Size", "Seed"});
    const Actor actor = actorOf(body);
    const NewContents contents = contentsOf(body);
    auto node = liveNode(state, call.parameters[0], call.parameters[1]);
    if (failed(call, node))
      return;
    if (!node->IsFile)
      return replyMessage(call.response, 400, "Only files have contents");
    const OVVirtualFile wanted = nodeSpec(call.parameters[1], node->ParrentId.value_or(""),
                                          node->PublicName.value_or(""), true, contents.size, OVDate{clock.wallNow()});
    replyEvent(call, 200, putContents(state, call.parameters[0], wanted, contents, actor));
  });

  add("PATCH", "/shares/:share/nodes/:node", [&state](const AdminCall& call) {
    const nlohmann::json json = call.body();
    ConfigObject body(json, "request", "");
    body.allowOnly({"User", "DeviceId", "Name", "ParentId"});
    const Actor actor = actorOf(body);
    if (!body.has("Name") && !body.has("ParentId"))
      body.fail("Name", "or \"ParentId\" must be given");
    auto node = liveNode(state, call.parameters[0], call.parameters[1]);
    if (failed(call, node))
      return;
    const std::string name = body.optionalString("Name").value_or(node->PublicName.value_or(""));
    const std::string parent = body.optionalString("ParentId").value_or(node->ParrentId.value_or(""));
    replyEvent(call, 200, state.rename(call.parameters[0], call.parameters[1], name, parent, actor, newGuid()));
  });

  add("DELETE", "/shares/:share/nodes/:node", [&state](const AdminCall& call) {
    const nlohmann::json json = call.body();
    ConfigObject body(json, "request", "");
    body.allowOnly({"User", "DeviceId"});
    replyEvent(call, 200, state.remove(call.parameters[0], call.parameters[1], actorOf(body), newGuid()));
  });

  for (const char* method : {"PUT", "DELETE"}) {
    const bool locking = std::string_view(method) == "PUT";
    add(method, "/shares/:share/nodes/:node/lock", [&state, locking](const AdminCall& call) {
      const nlohmann::json json = call.body();
      ConfigObject body(json, "request", "");
      body.allowOnly({"User", "DeviceId"});
      replyEvent(call, 200, state.setLock(call.parameters[0], call.parameters[1], locking, actorOf(body), newGuid()));
    });
  }
}

} // namespace orvex::service
