#include "patch/launcher_made.h"

#include <aclapi.h>

#include <string>
#include <vector>

#include "platform/kernel_handles.h"

namespace {

using UniqueLocalMemory = UniqueHandle<ReleasedBy<HLOCAL, ::LocalFree>>;

// Every right that changes a file or who may change it.
constexpr ACCESS_MASK kChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD |
    DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

struct Descriptor {
    UniqueLocalMemory memory;
    PSID owner = nullptr;
    PACL dacl = nullptr;
};

bool ReadDescriptor(HANDLE file, Descriptor& read) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT,
                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &read.owner,
                          nullptr, &read.dacl, nullptr, &sd) != ERROR_SUCCESS) {
        return false;
    }
    read.memory.reset(sd);
    return read.owner != nullptr;
}

std::vector<BYTE> CopySid(PSID sid) {
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + ::GetLengthSid(sid));
}

// The owner a file this process creates is given. Windows takes the token's default owner, Wine
// the Unix owner of the file, so it is read off a file made for that alone.
std::vector<BYTE> NewFileOwner() {
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH)
        return {};
    const std::wstring name = std::wstring(folder) + L"talvora-owner-" +
                              std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(::GetTickCount64()) + L".tmp";
    const UniqueFile probe(::CreateFileW(
        name.c_str(), GENERIC_WRITE | READ_CONTROL | DELETE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT,
        nullptr));
    Descriptor read;
    if (!probe || !ReadDescriptor(probe.get(), read))
        return {};
    return CopySid(read.owner);
}

const std::vector<BYTE>& LaunchersOwner() {
    static const std::vector<BYTE> owner = NewFileOwner();
    return owner;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    return ::IsWellKnownSid(sid, type) != FALSE;
}

// An allowed entry of the list's own (not inherited from the folder) that lets someone other than
// the owner, SYSTEM or Administrators change the file.
bool GrantsChangeToOthers(const ACE_HEADER* header, PSID owner) {
    if ((header->AceFlags & INHERITED_ACE) != 0 || (header->AceFlags & INHERIT_ONLY_ACE) != 0)
        return false;
    switch (header->AceType) {
        case ACCESS_DENIED_ACE_TYPE:
        case SYSTEM_AUDIT_ACE_TYPE:
            return false;
        case ACCESS_ALLOWED_ACE_TYPE:
            break;
        default:
            return true;  // a kind of entry the launcher never makes
    }
    const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    if ((allowed->Mask & kChangeRights) == 0)
        return false;
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    return !(::EqualSid(sid, owner) || IsWellKnown(sid, WinLocalSystemSid) ||
             IsWellKnown(sid, WinBuiltinAdministratorsSid));
}

}  // namespace

bool IsLauncherMadeFile(HANDLE file) {
    const std::vector<BYTE>& expected = LaunchersOwner();
    Descriptor read;
    if (expected.empty() || !ReadDescriptor(file, read) ||
        !::EqualSid(read.owner, const_cast<BYTE*>(expected.data()))) {
        return false;
    }
    // No list at all lets everyone do anything.
    if (read.dacl == nullptr)
        return false;
    for (DWORD i = 0; i < read.dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(read.dacl, i, &ace) ||
            GrantsChangeToOthers(static_cast<const ACE_HEADER*>(ace), read.owner)) {
            return false;
        }
    }
    return true;
}
