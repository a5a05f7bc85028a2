#include "patch/seek_penalty.h"

#include "platform/kernel_handles.h"

#include <windows.h>
#include <winioctl.h>

#include <vector>

namespace {

// The device of a local volume, as "\\?\Volume{...}" or "\\.\C:", without a trailing separator;
// empty for a network share.
std::wstring VolumeDevice(const std::wstring& path) {
    std::vector<wchar_t> root(path.size() + MAX_PATH + 2);
    if (!::GetVolumePathNameW(path.c_str(), root.data(), static_cast<DWORD>(root.size())))
        return std::wstring();
    const std::wstring mountPoint = root.data();
    if (mountPoint.size() >= 2 && mountPoint[0] == L'\\' && mountPoint[1] == L'\\')
        return std::wstring();
    wchar_t volume[MAX_PATH + 1] = {};
    std::wstring device;
    if (::GetVolumeNameForVolumeMountPointW(mountPoint.c_str(), volume, MAX_PATH + 1)) {
        device = volume;
    } else if (mountPoint.size() >= 2 && mountPoint[1] == L':') {
        device = L"\\\\.\\" + mountPoint.substr(0, 2);
    }
    if (!device.empty() && device.back() == L'\\')
        device.pop_back();
    return device;
}

}  // namespace

bool VolumeIncursSeekPenalty(const std::wstring& path) {
    const std::wstring device = VolumeDevice(path);
    if (device.empty())
        return false;
    // No access rights are asked for: the query needs none, and an ordinary user may ask it too.
    UniqueFile volume(::CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!volume)
        return false;
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceSeekPenaltyProperty;
    query.QueryType = PropertyStandardQuery;
    DEVICE_SEEK_PENALTY_DESCRIPTOR answer = {};
    DWORD got = 0;
    if (!::DeviceIoControl(volume.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                           &answer, sizeof answer, &got, nullptr)) {
        return false;
    }
    return got >= sizeof answer && answer.IncursSeekPenalty;
}
