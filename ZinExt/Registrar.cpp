#include "ZinExt/Registrar.h"

#include "framework/WinHandle.h"

#include <cwctype>

namespace zinext {
namespace {

const HRESULT kBadScript = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
const REGSAM kKeyAccess = KEY_READ | KEY_WRITE | DELETE;

enum class KeyFlag { None, NoRemove, ForceRemove };

struct ScriptValue {
    std::wstring name;  // empty: the key's default value
    std::wstring data;
};

struct ScriptKey {
    std::wstring name;
    KeyFlag flag = KeyFlag::None;
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> subkeys;
};

struct ScriptRoot {
    HKEY root = nullptr;
    bool classes = false;  // HKCR: per user it lies under HKCU\Software\Classes
    std::vector<ScriptKey> keys;
};

struct Token {
    std::wstring text;
    bool quoted = false;
};

bool SameText(const std::wstring& a, const wchar_t* b) {
    return CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL;
}

bool Expand(const std::wstring& text, const ScriptReplacements& replacements, std::wstring& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%') {
            out += text[i];
            continue;
        }
        const size_t end = text.find(L'%', i + 1);
        if (end == std::wstring::npos) return false;
        const std::wstring name = text.substr(i + 1, end - i - 1);
        if (name.empty()) {
            out += L'%';
        } else {
            bool found = false;
            for (const auto& r : replacements) {
                if (SameText(name, r.first.c_str())) {
                    out += r.second;
                    found = true;
                    break;
                }
            }
            if (!found) return false;
        }
        i = end;
    }
    return true;
}

bool Tokenize(const std::wstring& script, const ScriptReplacements& replacements, std::vector<Token>& tokens) {
    size_t i = 0;
    while (i < script.size()) {
        if (iswspace(script[i])) {
            ++i;
            continue;
        }
        Token token;
        std::wstring raw;
        if (script[i] == L'\'') {
            token.quoted = true;
            for (++i;; ++i) {
                if (i >= script.size()) return false;  // unterminated
                if (script[i] == L'\'') {
                    if (i + 1 < script.size() && script[i + 1] == L'\'') {
                        raw += L'\'';
                        ++i;
                    } else {
                        ++i;
                        break;
                    }
                } else {
                    raw += script[i];
                }
            }
        } else {
            while (i < script.size() && !iswspace(script[i])) raw += script[i++];
        }
        if (!Expand(raw, replacements, token.text)) return false;
        tokens.push_back(std::move(token));
    }
    return true;
}

class Parser {
public:
    explicit Parser(const std::vector<Token>& tokens) : m_tokens(tokens) {}

    bool ParseScript(std::vector<ScriptRoot>& roots) {
        while (m_pos < m_tokens.size()) {
            ScriptRoot root;
            if (!ParseRootName(root) || !Expect(L"{")) return false;
            while (!IsSymbol(L"}")) {
                if (AtEnd()) return false;
                ScriptKey key;
                if (!ParseKey(key)) return false;
                root.keys.push_back(std::move(key));
            }
            ++m_pos;
            roots.push_back(std::move(root));
        }
        return true;
    }

private:
    bool AtEnd() const { return m_pos >= m_tokens.size(); }
    bool IsSymbol(const wchar_t* symbol) const {
        return !AtEnd() && !m_tokens[m_pos].quoted && m_tokens[m_pos].text == symbol;
    }
    bool IsKeyword(const wchar_t* word) const {
        return !AtEnd() && !m_tokens[m_pos].quoted && SameText(m_tokens[m_pos].text, word);
    }
    bool Expect(const wchar_t* symbol) {
        if (!IsSymbol(symbol)) return false;
        ++m_pos;
        return true;
    }
    // A key or value name: any token but the block and assignment symbols.
    bool Name(std::wstring& name) {
        if (AtEnd() || IsSymbol(L"{") || IsSymbol(L"}") || IsSymbol(L"=")) return false;
        name = m_tokens[m_pos++].text;
        return true;
    }
    // "= s 'text'"
    bool StringAssignment(std::wstring& data) {
        if (!Expect(L"=") || !IsKeyword(L"s")) return false;
        ++m_pos;
        if (AtEnd()) return false;
        data = m_tokens[m_pos++].text;
        return true;
    }

    bool ParseRootName(ScriptRoot& root) {
        if (AtEnd() || m_tokens[m_pos].quoted) return false;
        const std::wstring& name = m_tokens[m_pos++].text;
        if (SameText(name, L"HKCR") || SameText(name, L"HKEY_CLASSES_ROOT")) {
            root.root = HKEY_CLASSES_ROOT;
            root.classes = true;
        } else if (SameText(name, L"HKCU") || SameText(name, L"HKEY_CURRENT_USER")) {
            root.root = HKEY_CURRENT_USER;
        } else if (SameText(name, L"HKLM") || SameText(name, L"HKEY_LOCAL_MACHINE")) {
            root.root = HKEY_LOCAL_MACHINE;
        } else {
            return false;
        }
        return true;
    }

    bool ParseKey(ScriptKey& key) {
        if (IsKeyword(L"NoRemove")) {
            key.flag = KeyFlag::NoRemove;
            ++m_pos;
        } else if (IsKeyword(L"ForceRemove")) {
            key.flag = KeyFlag::ForceRemove;
            ++m_pos;
        }
        // One level per key: a backslash would hide keys from the removal rules.
        if (!Name(key.name) || key.name.empty() || key.name.find(L'\\') != std::wstring::npos) return false;
        if (IsSymbol(L"=")) {
            ScriptValue value;
            if (!StringAssignment(value.data)) return false;
            key.values.push_back(std::move(value));
        }
        if (!IsSymbol(L"{")) return true;
        ++m_pos;
        while (!IsSymbol(L"}")) {
            if (AtEnd()) return false;
            if (IsKeyword(L"val")) {
                ++m_pos;
                ScriptValue value;
                if (!Name(value.name) || value.name.empty() || !StringAssignment(value.data)) return false;
                key.values.push_back(std::move(value));
            } else {
                ScriptKey subkey;
                if (!ParseKey(subkey)) return false;
                key.subkeys.push_back(std::move(subkey));
            }
        }
        ++m_pos;
        return true;
    }

    const std::vector<Token>& m_tokens;
    size_t m_pos = 0;
};

HRESULT FromWin32(LONG error) { return HRESULT_FROM_WIN32(static_cast<DWORD>(error)); }

bool Missing(LONG error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

const wchar_t* ValueName(const ScriptValue& value) { return value.name.empty() ? nullptr : value.name.c_str(); }

HRESULT RegisterKey(HKEY parent, const ScriptKey& key) {
    if (key.flag == KeyFlag::ForceRemove) {
        const LONG error = RegDeleteTreeW(parent, key.name.c_str());
        if (error != ERROR_SUCCESS && !Missing(error)) return FromWin32(error);
    }
    fw::UniqueHKey handle;
    LONG error = RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, kKeyAccess, nullptr,
                                 handle.put(), nullptr);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    for (const ScriptValue& value : key.values) {
        error = RegSetValueExW(handle.get(), ValueName(value), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(value.data.c_str()),
                               static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t)));
        if (error != ERROR_SUCCESS) return FromWin32(error);
    }
    for (const ScriptKey& subkey : key.subkeys) {
        const HRESULT hr = RegisterKey(handle.get(), subkey);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT UnregisterKey(HKEY parent, const ScriptKey& key) {
    if (key.flag == KeyFlag::ForceRemove) {
        const LONG error = RegDeleteTreeW(parent, key.name.c_str());
        return error == ERROR_SUCCESS || Missing(error) ? S_OK : FromWin32(error);
    }
    fw::UniqueHKey handle;
    LONG error = RegOpenKeyExW(parent, key.name.c_str(), 0, kKeyAccess, handle.put());
    if (Missing(error)) return S_OK;  // nothing of ours is there
    if (error != ERROR_SUCCESS) return FromWin32(error);
    for (const ScriptKey& subkey : key.subkeys) {
        const HRESULT hr = UnregisterKey(handle.get(), subkey);
        if (FAILED(hr)) return hr;
    }
    if (key.flag == KeyFlag::NoRemove) return S_OK;
    for (const ScriptValue& value : key.values) {
        error = RegDeleteValueW(handle.get(), ValueName(value));
        if (error != ERROR_SUCCESS && !Missing(error)) return FromWin32(error);
    }
    // What others keep in the key stays, and with it the key.
    DWORD subkeys = 0, values = 0;
    error = RegQueryInfoKeyW(handle.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    if (subkeys != 0 || values != 0) return S_OK;
    handle.reset();
    error = RegDeleteKeyW(parent, key.name.c_str());
    return error == ERROR_SUCCESS || Missing(error) ? S_OK : FromWin32(error);
}

HRESULT RunRoot(const ScriptRoot& root, ScriptAction action, bool perUser) {
    HKEY base = root.root;
    fw::UniqueHKey userClasses;
    if (root.classes && perUser) {
        const wchar_t* path = L"Software\\Classes";
        const LONG error = action == ScriptAction::Register
                               ? RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                 kKeyAccess, nullptr, userClasses.put(), nullptr)
                               : RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, kKeyAccess, userClasses.put());
        if (action == ScriptAction::Unregister && Missing(error)) return S_OK;
        if (error != ERROR_SUCCESS) return FromWin32(error);
        base = userClasses.get();
    }
    for (const ScriptKey& key : root.keys) {
        const HRESULT hr = action == ScriptAction::Register ? RegisterKey(base, key) : UnregisterKey(base, key);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace

HRESULT RunRegistryScript(const std::wstring& script, const ScriptReplacements& replacements, ScriptAction action,
                          bool perUser) {
    std::vector<Token> tokens;
    if (!Tokenize(script, replacements, tokens)) return kBadScript;
    std::vector<ScriptRoot> roots;
    if (!Parser(tokens).ParseScript(roots)) return kBadScript;
    for (const ScriptRoot& root : roots) {
        const HRESULT hr = RunRoot(root, action, perUser);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

}  // namespace zinext
