#pragma once
// A small runner for registry scripts in the registrar syntax that COM
// servers carry as "REGISTRY" resources:
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {...} = s 'Name'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// Tokens are separated by white space; 'quoted' tokens may hold blanks and
// write a quote as ''. A key may carry a default string value (= s '...')
// and a block of subkeys and named values (val Name = s '...'). Only string
// values are known. %NAME% in any token is replaced from the replacement
// list (%% is a percent sign).
//
// Registering creates every key and writes its values; a ForceRemove key is
// first deleted with its whole subtree. Unregistering walks the same tree:
// a ForceRemove key goes with its subtree, a NoRemove key stays with its
// values, any other key loses the script's values and goes when nothing
// else is left in it. The whole script is read before the registry is
// touched, so a script with a syntax error changes nothing.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace zinext {

using ScriptReplacements = std::vector<std::pair<std::wstring, std::wstring>>;

enum class ScriptAction { Register, Unregister };

// Runs `script`. With `perUser`, keys under the classes root (HKCR) go to
// HKEY_CURRENT_USER\Software\Classes instead. Returns S_OK, the registry's
// error as an HRESULT, or HRESULT_FROM_WIN32(ERROR_INVALID_DATA) for a
// script that cannot be read.
HRESULT RunRegistryScript(const std::wstring& script, const ScriptReplacements& replacements, ScriptAction action,
                          bool perUser);

}  // namespace zinext
