/* Linked against zlib1.dll's import library on purpose: check_imports.py
 * must reject this program. */
#include <zlib.h>

int main(void) { return zlibVersion()[0] == '1' ? 0 : 1; }
