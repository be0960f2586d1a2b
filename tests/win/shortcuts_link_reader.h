// Reading shell links back through the shell's own interfaces, and the shell
// folders the installation puts them in.
#pragma once
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <string>

struct LinkFields {
  bool loaded = false;
  std::string path, arguments, working_folder, icon_path;
  int icon_index = 0;
};

inline LinkFields read_link(const std::string& link_path) {
  LinkFields f;
  IShellLinkA* link = NULL;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              (void**)&link)))
    return f;
  IPersistFile* file = NULL;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&file))) {
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, link_path.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(file->Load(wide, STGM_READ))) {
      f.loaded = true;
      char text[MAX_PATH] = "";
      if (SUCCEEDED(link->GetPath(text, MAX_PATH, NULL, SLGP_RAWPATH))) f.path = text;
      text[0] = 0;
      if (SUCCEEDED(link->GetArguments(text, MAX_PATH))) f.arguments = text;
      text[0] = 0;
      if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) f.working_folder = text;
      text[0] = 0;
      if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &f.icon_index))) f.icon_path = text;
    }
    file->Release();
  }
  link->Release();
  return f;
}

inline std::string shell_folder(int csidl) {
  char path[MAX_PATH] = "";
  if (SHGetFolderPathA(NULL, csidl, NULL, 0, path) != S_OK) return "";
  return path;
}
