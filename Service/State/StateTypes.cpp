#include "State/StateTypes.h"

#include <algorithm>
#include <stdexcept>

namespace orvex::service {

bool ShareInfo::visibleTo(const std::string& user) const {
  return users.empty() || std::find(users.begin(), users.end(), user) != users.end();
}

OVVirtualFile nodeSpec(const std::string& internalName, const std::string& parentId, const std::string& name,
                       bool isFile, std::int64_t size, OVDate time) {
  OVVirtualFile file;
  file.InternalName = internalName;
  file.ParrentId = parentId;
  file.PublicName = name;
  file.IsFile = isFile;
  file.EndOfFile = size;
  file.CreationTime = time;
  file.LastAccessTime = time;
  file.LastWriteTime = time;
  return file;
}

nlohmann::json ShareInfo::toJson() const {
  nlohmann::json object{{"ShareId", shareId}, {"Name", name},         {"Domain", domain}, {"CompanyId", companyId},
                        {"AclType", aclType}, {"AclToken", aclToken}, {"Users", users}};
  if (parentShareId)
    object["ParentShareId"] = *parentShareId;
  if (internalName)
    object["InternalName"] = *internalName;
  return object;
}

ShareInfo ShareInfo::fromJson(const nlohmann::json& object) {
  ShareInfo share;
  share.shareId = object.at("ShareId").get<std::string>();
  share.name = object.at("Name").get<std::string>();
  share.domain = object.at("Domain").get<std::string>();
  share.companyId = object.at("CompanyId").get<std::string>();
  share.aclType = object.at("AclType").get<std::int32_t>();
  share.aclToken = object.at("AclToken").get<std::string>();
  share.users = object.at("Users").get<std::vector<std::string>>();
  if (object.contains("ParentShareId"))
    share.parentShareId = object.at("ParentShareId").get<std::string>();
  if (object.contains("InternalName"))
    share.internalName = object.at("InternalName").get<std::string>();
  return share;
}

nlohmann::json UploadSession::toJson() const {
  return nlohmann::json{
      {"Address", address},   {"ShareId", shareId}, {"Event", event.toJSONObject()}, {"ExpectedLength", expectedLength},
      {"Position", position}, {"BlobId", blobId},   {"LastActivity", lastActivityMs}};
}

UploadSession UploadSession::fromJson(const nlohmann::json& object) {
  UploadSession session;
  session.address = object.at("Address").get<std::string>();
  session.shareId = object.at("ShareId").get<std::string>();
  auto event = OVNewAPIJournalEvent::fromJSONObject(object.at("Event"));
  if (!event)
    throw std::runtime_error(event.error());
  session.event = std::move(event.value());
  session.expectedLength = object.at("ExpectedLength").get<std::int64_t>();
  session.position = object.at("Position").get<std::int64_t>();
  session.blobId = object.at("BlobId").get<std::string>();
  session.lastActivityMs = object.value("LastActivity", std::int64_t{0}); // absent in states of older versions
  return session;
}

} // namespace orvex::service
