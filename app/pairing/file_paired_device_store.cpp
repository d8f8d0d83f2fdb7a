#include "app/pairing/file_paired_device_store.h"

#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "app/pairing/paired_device_stored_form.h"
#include "app/storage/atomic_file.h"
#include "app/storage/data_paths.h"

namespace velopad {

FilePairedDeviceStoreError::FilePairedDeviceStoreError(FilePairedDeviceStoreErrorCode code,
                                                       std::int32_t status)
    : std::runtime_error(describe(code, status)), code_(code), status_(status) {}

std::string FilePairedDeviceStoreError::describe(FilePairedDeviceStoreErrorCode code,
                                                 std::int32_t status) {
    const char* action = code == FilePairedDeviceStoreErrorCode::saveFailed ? "save" : "remove";
    return std::string("Could not ") + action + " the paired devices (status " +
           std::to_string(status) + ").";
}

std::filesystem::path FilePairedDeviceStore::defaultPath() {
    return agentDataDirectory() / "paired-devices.json";
}

FilePairedDeviceStore::FilePairedDeviceStore(std::filesystem::path path,
                                             StoreProblemReporter report)
    : path_(std::move(path)), report_(std::move(report)) {}

std::vector<PairedDevice> FilePairedDeviceStore::load() {
    std::optional<std::string> content;
    try {
        content = readWholeFile(path_);
    } catch (const std::system_error& error) {
        return setAside(error.code().message());
    }
    if (!content) return {};
    if (auto devices = decodeStoredPairedDevices(*content)) return std::move(*devices);
    return setAside("it is not a list of paired devices");
}

std::vector<PairedDevice> FilePairedDeviceStore::setAside(const std::string& reason) {
    std::string problem =
        "The paired devices in " + path_.string() + " could not be read (" + reason + ")";
    try {
        const std::filesystem::path aside = setAsideUnreadableFile(path_);
        problem += "; the file was kept as " + aside.string() + ".";
    } catch (const std::system_error& error) {
        problem += "; it could not be moved aside either (" + error.code().message() + ").";
    }
    if (report_) report_(problem);
    return {};
}

void FilePairedDeviceStore::save(const std::vector<PairedDevice>& devices) {
    const std::string content = encodeStoredPairedDevices(devices);
    try {
        createPrivateDirectories(path_.parent_path());
        const auto warning = writeFileAtomically(
            path_, content,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        if (warning && report_) report_(*warning);
    } catch (const std::system_error& error) {
        throw FilePairedDeviceStoreError(FilePairedDeviceStoreErrorCode::saveFailed,
                                         error.code().value());
    }
}

void FilePairedDeviceStore::clear() {
    if (::unlink(path_.c_str()) != 0) {
        const int error = errno;
        if (error == ENOENT) return;
        throw FilePairedDeviceStoreError(FilePairedDeviceStoreErrorCode::deleteFailed, error);
    }
}

}  // namespace velopad
