// Who may open a device, read from its owner, group and mode: advice for a
// refused open that can actually help.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "line_check.h"

namespace vornectl {

namespace {

// User and group names come from the system's databases, which may hold
// anything: only plain name characters are shown as they are.
std::string Escaped(const std::string& name) {
  std::string text;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= '0' && byte <= '9') || c == '.' || c == '_' || c == '-') {
      text += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof(hex), "\\x%02X", byte);
      text += hex;
    }
  }
  return text;
}

std::string UserName(uid_t uid) {
  const passwd* user = ::getpwuid(uid);
  return user != nullptr && user->pw_name != nullptr && *user->pw_name != '\0'
             ? Escaped(user->pw_name)
             : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group* entry = ::getgrgid(gid);
  return entry != nullptr && entry->gr_name != nullptr && *entry->gr_name != '\0'
             ? Escaped(entry->gr_name)
             : std::to_string(gid);
}

// "crw-rw----", as ls shows it.
std::string ModeText(mode_t mode) {
  std::string text = S_ISCHR(mode)    ? "c"
                     : S_ISBLK(mode)  ? "b"
                     : S_ISDIR(mode)  ? "d"
                     : S_ISFIFO(mode) ? "p"
                     : S_ISSOCK(mode) ? "s"
                                      : "-";
  const mode_t bits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP,
                         S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
  for (std::size_t i = 0; i < 9; ++i) text += (mode & bits[i]) != 0 ? "rwx"[i % 3] : '-';
  return text;
}

// Whether this process has group `gid` now (a group joined since the login
// is not there yet).
bool HasGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, groups.data());
  for (int i = 0; i < got; ++i) {
    if (groups[static_cast<std::size_t>(i)] == gid) return true;
  }
  return false;
}

}  // namespace

std::string PermissionAdvice(const std::string& device, bool brief) {
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) return "a folder on its path is closed to you";
  const std::string group = GroupName(st.st_gid);
  const std::string listing =
      "(" + ModeText(st.st_mode) + " " + UserName(st.st_uid) + " " + group + ")";
  const auto readWrite = [&](mode_t read, mode_t write) {
    return (st.st_mode & (read | write)) == (read | write);
  };
  // Joining root's group is no advice to give.
  const bool groupMay = readWrite(S_IRGRP, S_IWGRP);
  if (groupMay && st.st_gid != 0 && !HasGroup(st.st_gid)) {
    if (brief) return "add yourself to the " + group + " group";
    return "add yourself to the " + group + " group (sudo usermod -aG " + group +
           " \"$USER\", then log in again)";
  }
  if (readWrite(S_IROTH, S_IWOTH) || (groupMay && st.st_gid != 0)) {
    return "its mode lets you open it " + listing + ": something else refuses";
  }
  std::string who = "root";
  if (readWrite(S_IRUSR, S_IWUSR) && st.st_uid != 0) who = UserName(st.st_uid) + " and root";
  if (groupMay) who += " and the root group";
  return "only " + who + " can open it " + listing;
}

}  // namespace vornectl
