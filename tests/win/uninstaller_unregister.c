/* A library that unregisters itself: each DllUnregisterServer call adds one
   to HKCU\Software\PakwizTest\Unregistered. */
#include <windows.h>

__declspec(dllexport) HRESULT __stdcall DllUnregisterServer(void) {
  HKEY key;
  DWORD count = 0, size = sizeof count, type = 0;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\PakwizTest", 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                      &key, NULL) != ERROR_SUCCESS)
    return E_FAIL;
  if (RegQueryValueExA(key, "Unregistered", NULL, &type, (BYTE*)&count, &size) != ERROR_SUCCESS)
    count = 0;
  count++;
  RegSetValueExA(key, "Unregistered", 0, REG_DWORD, (const BYTE*)&count, sizeof count);
  RegCloseKey(key);
  return S_OK;
}
