/* The unload path of qlmc32.dll: loads the DLL, opens the interface (which starts
 * the Request Manager), and unloads the DLL with the interface still open. DllMain
 * then shuts the server down and waits for its end, under the loader lock. Exits 0
 * when FreeLibrary returned and the server's window is gone.
 *
 *   qlm_unload_test <path of qlmc32.dll>
 */
#include <stdio.h>
#include <windows.h>

typedef unsigned int (*OpenFn)(void);

int main(int argc, char **argv) {
  HMODULE dll;
  OpenFn open;
  unsigned int rc;
  if (argc < 2 || (dll = LoadLibraryA(argv[1])) == NULL) return 2;
  open = (OpenFn)(void (*)(void))GetProcAddress(dll, "QlmOpenCInterface");
  if (open == NULL) return 3;
  if ((rc = open()) != 0) {
    fprintf(stderr, "qlm_unload_test: the interface did not open (%u)\n", rc);
    return 4;
  }
  if (FindWindowA(NULL, "Quillmar - Request Manager") == NULL) return 5;
  if (!FreeLibrary(dll)) return 6;
  if (FindWindowA(NULL, "Quillmar - Request Manager") != NULL) {
    fprintf(stderr, "qlm_unload_test: the Request Manager still runs after the unload\n");
    return 7;
  }
  return 0;
}
