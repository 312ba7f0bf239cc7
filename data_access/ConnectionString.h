#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace data_access {

// A connection string as OLE DB writes them: "key=value;" pairs, keys
// case-insensitive, values optionally enclosed in '...' or "..." with the
// enclosing quote doubled inside, "==" standing for "=" inside a key.
class ConnectionString {
public:
    // Throws ErrorConexion when the text is not a well-formed connection string.
    static ConnectionString parse(std::string_view text);
    ConnectionString() = default;
    ConnectionString(ConnectionString&&) = default;
    ConnectionString(const ConnectionString&) = default;
    ConnectionString& operator=(const ConnectionString&) = default;
    ConnectionString& operator=(ConnectionString&&) = default;
    // Wipes every value: one of them is a password.
    ~ConnectionString();

    // The value of the last pair whose key equals `key`, ignoring case and
    // surrounding blanks. Synonyms are not resolved here.
    std::optional<std::string> value(std::string_view key) const;

    const std::vector<std::pair<std::string, std::string>>& pairs() const { return pairs_; }

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
};

} // namespace data_access
