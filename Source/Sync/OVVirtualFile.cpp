// Member tables of the remote node record and its lock.
#include "Sync/OVVirtualFile.h"

#include "Sync/WireMapping.h"

namespace orvex {

using namespace wire;

namespace {

constexpr auto kFileLockMembers = std::tuple{
    opt("IsLocked", &FileLock::IsLocked),
    opt("DeviceId", &FileLock::DeviceId),
    opt("LockTime", &FileLock::LockTime),
    opt("LockedBy", &FileLock::LockedBy),
};

constexpr auto kVirtualFileMembers = std::tuple{
    opt("ShareId", &OVVirtualFile::ShareId),
    opt("UploadUrl", &OVVirtualFile::UploadUrl),
    opt("UploadName", &OVVirtualFile::UploadName),
    opt("ArchivedFullName", &OVVirtualFile::ArchivedFullName),
    opt("InternalName", &OVVirtualFile::InternalName),
    opt("ParrentId", &OVVirtualFile::ParrentId),
    opt("ParentShareId", &OVVirtualFile::ParentShareId),
    opt("PublicName", &OVVirtualFile::PublicName),
    opt("User", &OVVirtualFile::User),
    opt("LastUploadName", &OVVirtualFile::LastUploadName),
    opt("FilehHash", &OVVirtualFile::FilehHash),
    req("Tick", &OVVirtualFile::Tick),
    req("ShareTick", &OVVirtualFile::ShareTick),
    req("UpdateTick", &OVVirtualFile::UpdateTick),
    req("CreateTick", &OVVirtualFile::CreateTick),
    opt("EndOfFile", &OVVirtualFile::EndOfFile),
    opt("AllocationSize", &OVVirtualFile::AllocationSize),
    req("CreationTime", &OVVirtualFile::CreationTime),
    req("LastAccessTime", &OVVirtualFile::LastAccessTime),
    req("LastWriteTime", &OVVirtualFile::LastWriteTime),
    opt("Attributes", &OVVirtualFile::Attributes),
    opt("POSIXPermissions", &OVVirtualFile::POSIXPermissions),
    opt("FileLock", &OVVirtualFile::FileLock),
    req("Local", &OVVirtualFile::Local),
    req("Deleted", &OVVirtualFile::Deleted),
    req("IsFile", &OVVirtualFile::IsFile),
};

} // namespace

bool FileLock::readWire(const json& object, FileLock& into, WireReader& reader) {
  return readMembers(object, into, kFileLockMembers, reader);
}

void FileLock::writeWire(json& object) const {
  writeMembers(*this, kFileLockMembers, object);
}

bool OVVirtualFile::readWire(const json& object, OVVirtualFile& into, WireReader& reader) {
  return readMembers(object, into, kVirtualFileMembers, reader);
}

void OVVirtualFile::writeWire(json& object) const {
  writeMembers(*this, kVirtualFileMembers, object);
}

OVVirtualFile OVVirtualFile::copy() const {
  OVVirtualFile copied = *this;
  copied.FileLock.reset();
  return copied;
}

} // namespace orvex
