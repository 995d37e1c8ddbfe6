// The target file of an export.
#include "app/commands/export_target.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace quavella {

namespace {

bool ends_with_nocase(std::string_view name, std::string_view extension) {
    const auto lower = [](char c) { return std::tolower(static_cast<unsigned char>(c)); };
    return name.size() >= extension.size() &&
           std::equal(extension.begin(), extension.end(),
                      name.end() - static_cast<std::ptrdiff_t>(extension.size()),
                      [&](char a, char b) { return lower(a) == lower(b); });
}

/// Asks before `target` is replaced; true when it may be written.
bool may_write(ExportDialogs& dialogs, const std::string& target) {
    // A name that exists in any form (a file, a folder, a dangling link) is asked about;
    // writing then fails with the reason if it cannot be replaced.
    std::error_code ec;
    const auto type = std::filesystem::symlink_status(target, ec).type();
    return type == std::filesystem::file_type::not_found ||
           type == std::filesystem::file_type::none || dialogs.confirm_replace(target);
}

}  // namespace

std::string with_extension(std::string_view chosen, std::string_view extension) {
    std::string target(chosen);
    if (!ends_with_nocase(chosen, extension)) target += extension;
    return target;
}

std::optional<std::string> choose_export_file(ExportDialogs& dialogs, const std::string& suggested,
                                              std::string_view extension,
                                              const std::string& filter) {
    const auto chosen = dialogs.ask_file(suggested, filter);
    if (!chosen || chosen->empty()) return std::nullopt;
    std::string target = with_extension(*chosen, extension);
    if (!may_write(dialogs, target)) return std::nullopt;
    return target;
}

std::optional<std::string> choose_export_file(ExportDialogs& dialogs, const std::string& suggested,
                                              const std::vector<std::string>& extensions,
                                              const std::string& filter) {
    const auto chosen = dialogs.ask_file(suggested, filter);
    if (!chosen || chosen->empty()) return std::nullopt;
    const bool known = std::any_of(extensions.begin(), extensions.end(), [&](const std::string& e) {
        return ends_with_nocase(*chosen, e);
    });
    std::string target = known ? *chosen : *chosen + extensions.front();
    if (!may_write(dialogs, target)) return std::nullopt;
    return target;
}

std::string file_name_from_title(std::string_view title, std::string_view fallback) {
    std::string name;
    for (const char c : title) {
        const bool refused = c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' ||
                             c == '"' || c == '<' || c == '>' || c == '|' ||
                             static_cast<unsigned char>(c) < 0x20;
        name += refused ? '_' : c;
    }
    const auto blank = [](char c) { return c == ' ' || c == '.' || c == '_'; };
    while (!name.empty() && blank(name.back())) name.pop_back();
    const auto first = std::find_if_not(name.begin(), name.end(), blank);
    name.erase(name.begin(), first);
    if (name.empty()) return std::string(fallback);
    // Long titles make unwieldy names; cut at a character boundary.
    constexpr std::size_t kMaxBytes = 120;
    if (name.size() > kMaxBytes) {
        std::size_t cut = kMaxBytes;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
        name.resize(cut);
    }
    return name;
}

}  // namespace quavella
