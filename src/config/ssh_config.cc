#include "config/ssh_config.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <system_error>
#include <unordered_set>
#include <utility>

#include "base/text.h"
#include "config/files.h"

namespace wrenfield {
namespace {

namespace fs = std::filesystem;

// How many files may be open at once along one chain of Include lines. A file beyond that,
// or one that is already being read further up the chain, contributes nothing, so a file
// that includes itself, directly or through others, ends.
constexpr int maximum_include_depth = 16;

// How many files one top-level parse reads at the most, far more than a written configuration
// holds; what lies beyond contributes nothing.
constexpr int maximum_files_read = 4096;

// How a file was read earlier in the same parse: the shallowest depth at which it was read,
// and whether the depth bound left some of what it includes unread that time.
struct EarlierRead {
    int depth = 0;
    bool cut_short = false;
};

// What one top-level parse carries down through its Include lines.
struct IncludeGuard {
    std::set<std::string> files_being_read;
    std::map<std::string, EarlierRead> files_read;
    int files_read_count = 0;
    int depth = 0;
    // Set when the depth bound left an Include of the file being read, or of one it
    // includes, unread.
    bool cut_short = false;
};

enum class Keyword { host, match, include, hostname, user, port, identity_file, identities_only };

// The keyword lower-cased by the Unicode lower-case mapping, as ASCII. Only characters whose
// lower case is ASCII can make one of the known keywords: the ASCII letters and the Kelvin
// sign (U+212A, lower case "k"). Any other non-ASCII character lower-cases to something
// outside ASCII (U+0130 to "i" plus a combining dot), so such a keyword matches nothing.
std::optional<std::string> lower_ascii_keyword(std::string_view keyword) {
    std::string lowered;
    size_t position = 0;
    while (position < keyword.size()) {
        const char32_t c = next_code_point(keyword, position);
        if (c == 0x212A)
            lowered += 'k';
        else if (c < 0x80)
            lowered += ascii_lower(static_cast<char>(c));
        else
            return std::nullopt;
    }
    return lowered;
}

std::optional<Keyword> keyword_of(std::string_view text) {
    const std::optional<std::string> lowered = lower_ascii_keyword(text);
    if (!lowered)
        return std::nullopt;
    static constexpr std::pair<std::string_view, Keyword> table[] = {
        {"host", Keyword::host},
        {"match", Keyword::match},
        {"include", Keyword::include},
        {"hostname", Keyword::hostname},
        {"user", Keyword::user},
        {"port", Keyword::port},
        {"identityfile", Keyword::identity_file},
        {"identitiesonly", Keyword::identities_only},
    };
    for (const auto& [name, keyword] : table) {
        if (*lowered == name)
            return keyword;
    }
    return std::nullopt;
}

// The identity of a file for the guard against Include cycles: its canonical path, or the
// path as given when that cannot be worked out.
std::string file_identity(const fs::path& path) {
    std::error_code error;
    const fs::path canonical = fs::canonical(path, error);
    return error ? fs::absolute(path, error).lexically_normal().string() : canonical.string();
}

void drop_repeated_names(std::vector<SshConfigHost>& hosts) {
    std::unordered_set<std::string> seen;
    std::erase_if(hosts, [&](const SshConfigHost& host) {
        return !seen.insert(ascii_lower(host.name)).second;
    });
}

// Moves the open Host block to the result, leaving out the pattern names.
void flush(std::vector<SshConfigHost>& pending, std::vector<SshConfigHost>& result) {
    for (SshConfigHost& host : pending) {
        if (host.name.find_first_of("*?") == std::string::npos)
            result.push_back(std::move(host));
    }
    pending.clear();
}

std::vector<SshConfigHost> parse_file(const fs::path& path, std::string_view home,
                                      IncludeGuard& guard);

// The files one Include word names: a directory's regular files for a word ending in "/*",
// else the one regular file it names.
std::vector<fs::path> include_targets(std::string_view word, const fs::path& including_file,
                                      std::string_view home) {
    const std::string expanded = expand_home_path(word, home);
    fs::path resolved;
    if (expanded.starts_with("/"))
        resolved = expanded;
    else if (including_file.has_parent_path())
        resolved = including_file.parent_path() / expanded;
    else
        resolved = fs::path(home) / expanded;

    const std::string text = resolved.string();
    if (!text.ends_with("/*")) {
        if (is_regular_file_following_links(resolved))
            return {resolved};
        return {};
    }

    std::vector<fs::path> files;
    std::error_code error;
    fs::directory_iterator entries(text.substr(0, text.size() - 2), error);
    if (error)
        return {};
    for (auto entry = entries; entry != fs::directory_iterator(); entry.increment(error)) {
        if (error)
            break;
        if (is_regular_file_following_links(entry->path()))
            files.push_back(entry->path());
    }
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.native() < b.native(); });
    return files;
}

void apply_setting(Keyword keyword, std::string_view value, std::string_view home,
                   std::vector<SshConfigHost>& pending) {
    const std::string unquoted = unquote_value(value);
    for (SshConfigHost& host : pending) {
        switch (keyword) {
            case Keyword::hostname:
                if (!host.hostname)
                    host.hostname = unquoted;
                break;
            case Keyword::user:
                if (!host.user)
                    host.user = unquoted;
                break;
            case Keyword::port:
                if (!host.port)
                    host.port = parse_port(unquoted);
                break;
            case Keyword::identity_file:
                if (!host.identity_file)
                    host.identity_file = expand_home_path(unquoted, home);
                break;
            case Keyword::identities_only:
                if (!host.identities_only)
                    host.identities_only = ascii_iequals(unquoted, "yes");
                break;
            default:
                break;
        }
    }
}

// Splits one trimmed, non-empty line into its keyword and value. The separator is a run of
// white space holding at most one "=".
std::pair<std::string_view, std::string_view> split_line(std::string_view line) {
    size_t position = 0;
    size_t keyword_end = line.size();
    while (position < line.size()) {
        const size_t start = position;
        const char32_t c = next_code_point(line, position);
        if (c == '=' || is_unicode_whitespace(c)) {
            keyword_end = start;
            break;
        }
    }
    const std::string_view keyword = line.substr(0, keyword_end);
    std::string_view rest = trim_whitespace(line.substr(keyword_end));
    if (rest.starts_with("="))
        rest = trim_whitespace(rest.substr(1));
    return {keyword, rest};
}

std::vector<SshConfigHost> parse_text(std::string_view text, const fs::path& path,
                                      std::string_view home, IncludeGuard& guard) {
    std::vector<SshConfigHost> result;
    std::vector<SshConfigHost> pending;
    size_t line_start = 0;
    while (line_start <= text.size()) {
        size_t line_end = text.find('\n', line_start);
        if (line_end == std::string_view::npos)
            line_end = text.size();
        const std::string_view line =
            trim_whitespace(text.substr(line_start, line_end - line_start));
        line_start = line_end + 1;

        if (line.empty() || line.starts_with("#"))
            continue;
        const auto [keyword_text, value] = split_line(line);
        if (keyword_text.empty() || value.empty())
            continue;
        const std::optional<Keyword> keyword = keyword_of(keyword_text);
        if (!keyword)
            continue;

        switch (*keyword) {
            case Keyword::host:
                flush(pending, result);
                for (std::string& word : split_words(value))
                    pending.emplace_back().name = std::move(word);
                break;
            case Keyword::match:
                flush(pending, result);
                break;
            case Keyword::include:
                for (const std::string& word : split_words(value)) {
                    for (const fs::path& file : include_targets(word, path, home)) {
                        std::vector<SshConfigHost> included = parse_file(file, home, guard);
                        std::move(included.begin(), included.end(), std::back_inserter(result));
                    }
                }
                break;
            default:
                apply_setting(*keyword, value, home, pending);
                break;
        }
    }
    flush(pending, result);
    drop_repeated_names(result);
    return result;
}

// True when an earlier read of the same file in this parse already gave every entry that
// reading it again here could give. The entries of a later read come after those of the
// earlier one, so the final removal of repeated names would drop them all; reading again is
// only worth it where the earlier read was cut short by the depth bound and this one starts
// higher up. Files that include each other are thus read a bounded number of times instead
// of once for every order in which the chain can visit them. Skipping a file whose earlier
// read was cut short cuts this one short too, so that its includer is read again should it
// come up higher in the chain.
bool read_before(IncludeGuard& guard, const std::string& identity) {
    const auto earlier = guard.files_read.find(identity);
    if (earlier == guard.files_read.end())
        return false;
    if (!earlier->second.cut_short)
        return true;
    if (guard.depth < earlier->second.depth)
        return false;
    guard.cut_short = true;
    return true;
}

std::vector<SshConfigHost> parse_file(const fs::path& path, std::string_view home,
                                      IncludeGuard& guard) {
    if (guard.depth >= maximum_include_depth) {
        guard.cut_short = true;
        return {};
    }
    const std::string identity = file_identity(path);
    if (guard.files_being_read.contains(identity) || read_before(guard, identity) ||
        guard.files_read_count >= maximum_files_read) {
        return {};
    }
    const std::optional<std::string> text = read_utf8_file(path);
    if (!text)
        return {};

    ++guard.files_read_count;
    const bool includer_cut_short = std::exchange(guard.cut_short, false);
    guard.files_being_read.insert(identity);
    ++guard.depth;
    std::vector<SshConfigHost> hosts = parse_text(*text, path, home, guard);
    --guard.depth;
    guard.files_being_read.erase(identity);
    guard.files_read[identity] = EarlierRead{guard.depth, guard.cut_short};
    guard.cut_short = guard.cut_short || includer_cut_short;
    return hosts;
}

}  // namespace

std::vector<SshConfigHost> load_ssh_config() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || !is_valid_utf8(home))
        return {};
    return parse_ssh_config_file(fs::path(home) / ".ssh" / "config", home);
}

std::vector<SshConfigHost> parse_ssh_config_file(const fs::path& path, std::string_view home) {
    IncludeGuard guard;
    return parse_file(path, home, guard);
}

std::optional<SshConfigHost> find_config_host(std::string_view host) {
    const std::vector<SshConfigHost> hosts = load_ssh_config();
    for (const SshConfigHost& entry : hosts) {
        if (ascii_iequals(entry.name, host))
            return entry;
    }
    for (const SshConfigHost& entry : hosts) {
        if (entry.hostname && ascii_iequals(*entry.hostname, host))
            return entry;
    }
    return std::nullopt;
}

std::vector<std::string> split_words(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    char32_t open_quote = 0;
    size_t position = 0;
    while (position < text.size()) {
        const size_t start = position;
        const char32_t c = next_code_point(text, position);
        const std::string_view character = text.substr(start, position - start);
        if (open_quote != 0) {
            if (c == open_quote)
                open_quote = 0;
            else
                word += character;
        } else if (is_unicode_whitespace(c)) {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else if (c == '"' || c == '\'') {
            open_quote = c;
        } else {
            word += character;
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

std::string unquote_value(std::string_view text) {
    const std::string_view trimmed = trim_whitespace(text);
    if (trimmed.size() >= 2 && (trimmed.front() == '"' || trimmed.front() == '\'') &&
        trimmed.back() == trimmed.front()) {
        return std::string(trimmed.substr(1, trimmed.size() - 2));
    }
    return std::string(trimmed);
}

std::string expand_home_path(std::string_view text, std::string_view home) {
    const std::string unquoted = unquote_value(text);
    if (unquoted == "~")
        return std::string(home);
    if (unquoted.starts_with("~/"))
        return (fs::path(home) / unquoted.substr(2)).string();
    return unquoted;
}

nlohmann::ordered_json to_json(const SshConfigHost& host) {
    auto optional_value = [](const auto& field) -> nlohmann::ordered_json {
        if (field)
            return *field;
        return nullptr;
    };
    nlohmann::ordered_json json;
    json["name"] = host.name;
    json["hostname"] = optional_value(host.hostname);
    json["user"] = optional_value(host.user);
    json["port"] = optional_value(host.port);
    json["identity_file"] = optional_value(host.identity_file);
    json["identities_only"] = optional_value(host.identities_only);
    return json;
}

}  // namespace wrenfield
