// SPDX-License-Identifier: Apache-2.0
// Where the message catalogues of the text domain are looked up.
#ifndef LLC2_PLATFORM_CATALOGUE_H
#define LLC2_PLATFORM_CATALOGUE_H

// The directory to bind the text domain to: share/locale under the prefix
// the programs are installed in. A build with emulated streams (a developer's
// or the tests') uses its build tree's share/locale when the program itself
// is the one in the build tree (/proc/self/exe), so it runs from there in any
// language it has a catalogue for; an installed copy reads only under its
// prefix, whatever exists at the build tree's path. A native build never
// looks anywhere but the prefix.
const char *catalogue_dir();

#endif
