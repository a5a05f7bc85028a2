#include "glob.h"

#include <vector>

namespace talvora {

namespace {

enum class TokenKind { Literal, OneChar, Star, AnyRun, AnyFolders };

struct Token {
    TokenKind kind;
    char literal;
};

std::vector<Token> Tokenize(const std::string& pattern) {
    std::vector<Token> tokens;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i] == '\\' ? '/' : pattern[i];
        if (c == '?') {
            tokens.push_back({TokenKind::OneChar, 0});
        } else if (c == '*') {
            if (i + 1 < pattern.size() && pattern[i + 1] == '*') {
                ++i;
                while (i + 1 < pattern.size() && pattern[i + 1] == '*')
                    ++i;
                if (i + 1 < pattern.size() && (pattern[i + 1] == '/' || pattern[i + 1] == '\\')) {
                    ++i;
                    tokens.push_back({TokenKind::AnyFolders, 0});
                } else {
                    tokens.push_back({TokenKind::AnyRun, 0});
                }
            } else {
                tokens.push_back({TokenKind::Star, 0});
            }
        } else {
            tokens.push_back({TokenKind::Literal, c});
        }
    }
    return tokens;
}

// Length of the UTF-8 character at `i`, so that '?' takes a whole character.
std::size_t CharLength(const std::string& s, std::size_t i) {
    std::size_t len = 1;
    while (i + len < s.size() && (static_cast<unsigned char>(s[i + len]) & 0xC0) == 0x80)
        ++len;
    return len;
}

struct Matcher {
    const std::vector<Token>& tokens;
    const std::string& path;
    // Positions already known not to match; keeps repeated stars polynomial.
    std::vector<char> failed;

    bool Match(std::size_t t, std::size_t s) {
        if (t == tokens.size())
            return s == path.size();
        char& known = failed[t * (path.size() + 1) + s];
        if (known)
            return false;
        const bool result = Step(t, s);
        if (!result)
            known = 1;
        return result;
    }

    bool Step(std::size_t t, std::size_t s) {
        const Token& token = tokens[t];
        switch (token.kind) {
            case TokenKind::Literal:
                return s < path.size() && path[s] == token.literal && Match(t + 1, s + 1);
            case TokenKind::OneChar:
                return s < path.size() && path[s] != '/' && Match(t + 1, s + CharLength(path, s));
            case TokenKind::Star:
                for (std::size_t k = s;; ++k) {
                    if (Match(t + 1, k))
                        return true;
                    if (k == path.size() || path[k] == '/')
                        return false;
                }
            case TokenKind::AnyRun:
                for (std::size_t k = s; k <= path.size(); ++k) {
                    if (Match(t + 1, k))
                        return true;
                }
                return false;
            case TokenKind::AnyFolders:
                if (Match(t + 1, s))
                    return true;
                for (std::size_t k = s; k < path.size(); ++k) {
                    if (path[k] == '/' && Match(t + 1, k + 1))
                        return true;
                }
                return false;
        }
        return false;
    }
};

}  // namespace

bool GlobMatch(const std::string& pattern, const std::string& path) {
    const std::vector<Token> tokens = Tokenize(pattern);
    Matcher matcher{tokens, path, std::vector<char>((tokens.size() + 1) * (path.size() + 1), 0)};
    return matcher.Match(0, 0);
}

}  // namespace talvora
