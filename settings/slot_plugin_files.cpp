#include "settings/slot_plugin_files.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "plugin/plugin_state.h"
#include "settings/file_bytes.h"
#include "settings/settings_store.h"
#include "settings/slot_state_framing.h"

namespace {

const wchar_t INI_EXTENSION[] = L".ini";
const wchar_t STATE_EXTENSION[] = L".vststate";
const wchar_t MARKER_EXTENSION[] = L".vstloading";
const wchar_t TEMPORARY_SUFFIX[] = L".new";
// ".Settings", two digits, and for a chained effect "-" and its number.
constexpr size_t SLOT_PART_UNITS = 13;
constexpr size_t EXTENSION_UNITS = 16;
constexpr size_t FILE_PATH_UNITS = INI_PATH_UNITS + SLOT_PART_UNITS + EXTENSION_UNITS;

// The framing's header (8 bytes) and the longest path, beyond the largest state.
constexpr uint64_t MAX_FILE_BYTES = uint64_t{MAX_STATE_BYTES} + 8 + 2 * VST_PATH_UNITS;

// extension is one of the file kinds above; position the effect's in the slot's chain, from 0.
// False when the settings path is unknown or the name would not fit.
bool SlotFilePath(int32_t slotIndex, const wchar_t* extension, wchar_t (&path)[FILE_PATH_UNITS],
                  int32_t position = 0) {
    const size_t iniLength = std::wcslen(iniPath);
    const size_t extensionLength = std::wcslen(INI_EXTENSION);
    if (iniLength <= extensionLength || slotIndex < 0 || slotIndex >= SLOT_COUNT || position < 0 ||
        position > CHAINED_EFFECTS) {
        return false;
    }
    const size_t baseLength = iniLength - extensionLength;
    if (baseLength + SLOT_PART_UNITS + std::wcslen(extension) + std::wcslen(TEMPORARY_SUFFIX) >=
        FILE_PATH_UNITS) {
        return false;
    }
    std::wmemcpy(path, iniPath, baseLength);
    if (position == 0) {
        std::swprintf(path + baseLength, FILE_PATH_UNITS - baseLength, L".Settings%02d%ls",
                      static_cast<int>(slotIndex), extension);
    } else {
        std::swprintf(path + baseLength, FILE_PATH_UNITS - baseLength, L".Settings%02d-%d%ls",
                      static_cast<int>(slotIndex), static_cast<int>(position) + 1, extension);
    }
    return true;
}

// The new file, flushed to the disk before it takes the old one's name.
bool WriteWhole(const wchar_t* path, const std::vector<uint8_t>& bytes) {
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool ok =
        WriteAllBytes(file, bytes.data(), bytes.size()) && FlushFileBuffers(file) != FALSE;
    CloseHandle(file);
    return ok;
}

} // namespace

bool WriteSlotPluginState(int32_t slotIndex, const wchar_t* pluginPath,
                          const std::vector<uint8_t>& state, int32_t position) {
    wchar_t path[FILE_PATH_UNITS];
    if (!SlotFilePath(slotIndex, STATE_EXTENSION, path, position)) {
        return false;
    }
    const std::vector<uint8_t> bytes = FrameSlotState(reinterpret_cast<const uint16_t*>(pluginPath),
                                                      std::wcslen(pluginPath), state);

    wchar_t temporary[FILE_PATH_UNITS];
    std::wcscpy(temporary, path);
    std::wcscat(temporary, TEMPORARY_SUFFIX);
    if (!WriteWhole(temporary, bytes) ||
        MoveFileExW(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        DeleteFileW(temporary);
        return false;
    }
    return true;
}

bool ReadSlotPluginState(int32_t slotIndex, const wchar_t* pluginPath, std::vector<uint8_t>& state,
                         int32_t position) {
    state.clear();
    wchar_t path[FILE_PATH_UNITS];
    std::vector<char> file;
    SlotStateParts parts;
    if (!SlotFilePath(slotIndex, STATE_EXTENSION, path, position) ||
        !ReadFileBytes(path, MAX_FILE_BYTES, file)) {
        return false;
    }
    const std::vector<uint8_t> bytes(file.begin(), file.end());
    if (!SplitSlotState(bytes, VST_PATH_UNITS, parts)) {
        return false;
    }
    wchar_t keptPath[VST_PATH_UNITS];
    for (size_t i = 0; i < parts.pathUnits; ++i) {
        keptPath[i] = static_cast<wchar_t>(parts.path[2 * i] | (parts.path[2 * i + 1] << 8));
    }
    keptPath[parts.pathUnits] = L'\0';
    if (CompareStringOrdinal(keptPath, -1, pluginPath, -1, TRUE) != CSTR_EQUAL) {
        return false;
    }
    state.assign(bytes.begin() + static_cast<std::ptrdiff_t>(parts.stateOffset), bytes.end());
    return true;
}

void DeleteSlotPluginState(int32_t slotIndex, int32_t position) {
    wchar_t path[FILE_PATH_UNITS];
    if (SlotFilePath(slotIndex, STATE_EXTENSION, path, position)) {
        DeleteFileW(path);
    }
}

bool MarkSlotPluginLoad(int32_t slotIndex) {
    wchar_t path[FILE_PATH_UNITS];
    return SlotFilePath(slotIndex, MARKER_EXTENSION, path) && WriteWhole(path, {});
}

bool SlotPluginLoadMarked(int32_t slotIndex) {
    wchar_t path[FILE_PATH_UNITS];
    return SlotFilePath(slotIndex, MARKER_EXTENSION, path) &&
           GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

void UnmarkSlotPluginLoad(int32_t slotIndex) {
    wchar_t path[FILE_PATH_UNITS];
    if (SlotFilePath(slotIndex, MARKER_EXTENSION, path)) {
        DeleteFileW(path);
    }
}
