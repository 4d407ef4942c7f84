// Where the message catalogues of the text domain are looked up.
#ifndef LLC2_PLATFORM_CATALOGUE_H
#define LLC2_PLATFORM_CATALOGUE_H

// The directory to bind the text domain to: share/locale under the prefix
// the programs are installed in. A build with emulated streams (a developer's
// or the tests') uses its build tree's share/locale while that exists, so it
// runs from the build tree in any language it has a catalogue for; an
// installed copy of it falls back to the prefix once the build tree is gone.
// A native build never looks anywhere but the prefix.
const char *catalogue_dir();

#endif
