// The built-in demo data (--demo): one user in two domains with a writable
// share of folders and files from a few KiB to 50 MiB, a read-only share, a
// subfolder share, a share of another company with association type 2, and a
// file locked by another user.
#include "Config/ServiceConfig.h"

namespace orvex::service {
namespace {

constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kMiB = 1024 * kKiB;

nlohmann::json seeded(const char* share, const char* path, std::int64_t size, std::uint64_t seed) {
  return {{"Share", share}, {"Path", path}, {"Size", size}, {"Seed", seed}};
}

nlohmann::json text(const char* share, const char* path, const char* content) {
  return {{"Share", share}, {"Path", path}, {"Text", content}};
}

nlohmann::json demoUsers() {
  return nlohmann::json::array({
      {{"Email", "demo@orvex.example"},
       {"Password", "demo"},
       {"DisplayName", "Demo User"},
       {"PrimaryDomain", "orvex.example"},
       {"Domains", {"partner.example"}}},
      {{"Email", "colleague@orvex.example"},
       {"Password", "colleague"},
       {"DisplayName", "Casey Colleague"},
       {"PrimaryDomain", "orvex.example"}},
  });
}

nlohmann::json demoShares() {
  return nlohmann::json::array({
      {{"ShareId", "demo-documents"},
       {"Name", "Documents"},
       {"Domain", "orvex.example"},
       {"CompanyId", "orvex-demo"},
       {"AclType", 2},
       {"AclToken", "documents-token"},
       {"Users", {"demo@orvex.example"}}},
      {{"ShareId", "demo-archive"},
       {"Name", "Archive"},
       {"Domain", "orvex.example"},
       {"CompanyId", "orvex-demo"},
       {"AclType", 0},
       {"AclToken", "archive-token"}},
      {{"ShareId", "colleague-files"},
       {"Name", "Colleague Files"},
       {"Domain", "orvex.example"},
       {"CompanyId", "orvex-demo"},
       {"AclType", 2},
       {"AclToken", "colleague-token"},
       {"Users", {"colleague@orvex.example"}}},
      {{"ShareId", "shared-with-demo"},
       {"Name", "Shared With Demo"},
       {"Domain", "orvex.example"},
       {"CompanyId", "orvex-demo"},
       {"AclType", 1},
       {"AclToken", "shared-token"},
       {"ParentShareId", "colleague-files"},
       {"InternalName", "5f0a1d2c3b4e5f60718293a4b5c6d7e8"},
       {"Users", {"demo@orvex.example"}}},
      {{"ShareId", "partner-exchange"},
       {"Name", "Partner Exchange"},
       {"Domain", "partner.example"},
       {"CompanyId", "partner-co"},
       {"AclType", 1},
       {"AclToken", "partner-token"}},
  });
}

nlohmann::json demoFiles() {
  nlohmann::json budget = seeded("demo-documents", "Projects/Budget 2027.xlsx", 24 * kKiB, 16);
  budget["LockedBy"] = "colleague@orvex.example";
  budget["LockDeviceId"] = "colleague-laptop";
  return nlohmann::json::array({
      text("demo-documents", "Welcome.txt",
           "Welcome to the Orvex demo.\nEverything here lives in orvex-service on this machine.\n"),
      text("demo-documents", "Reports/2026/Summary.txt", "Revenue up, costs down. Details in Q3 Figures.pdf.\n"),
      seeded("demo-documents", "Reports/2026/Q3 Figures.pdf", 180 * kKiB, 11),
      seeded("demo-documents", "Reports/Annual Report.pdf", 3 * kMiB, 12),
      seeded("demo-documents", "Media/Photos/Harbour.jpg", 2 * kMiB + 512 * kKiB, 13),
      seeded("demo-documents", "Media/Presentation.mp4", 50 * kMiB, 14),
      seeded("demo-documents", "Projects/Plan.docx", 64 * kKiB, 15),
      budget,
      {{"Share", "demo-documents"}, {"Path", "Projects/Drafts"}, {"Folder", true}},
      seeded("demo-documents", "Notes/small.bin", 4 * kKiB, 17),
      seeded("demo-archive", "2024/Old Contract.pdf", 512 * kKiB, 21),
      text("demo-archive", "Readme.txt", "This share is read-only.\n"),
      {{"Share", "colleague-files"},
       {"Path", "Shared With Demo"},
       {"Folder", true},
       {"InternalName", "5f0a1d2c3b4e5f60718293a4b5c6d7e8"},
       {"User", "colleague@orvex.example"}},
      text("colleague-files", "Shared With Demo/Meeting Notes.txt", "Agenda: budget, plan, demo.\n"),
      seeded("colleague-files", "Shared With Demo/Diagram.png", 300 * kKiB, 31),
      seeded("colleague-files", "Private/Salary.xlsx", 20 * kKiB, 32),
      seeded("partner-exchange", "Contracts/Partner Agreement.pdf", 700 * kKiB, 41),
      text("partner-exchange", "Logo.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>\n"),
  });
}

} // namespace

nlohmann::json ServiceConfig::demoJson() {
  return {
      {"Domains", {"orvex.example", "partner.example"}},
      {"Users", demoUsers()},
      {"Companies",
       nlohmann::json::array({{{"CompanyId", "orvex-demo"}, {"Name", "Orvex Demo"}, {"AssociationType", 1}},
                              {{"CompanyId", "partner-co"}, {"Name", "Partner Co"}, {"AssociationType", 2}}})},
      {"Shares", demoShares()},
      {"Files", demoFiles()},
  };
}

} // namespace orvex::service
