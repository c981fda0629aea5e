// The one place the configured values are compiled in, so that a program
// with other roots needs only this file compiled anew.
#include "window/SiteDefaults.h"

#if !defined(KESTRANE_ROOT1) || !defined(KESTRANE_ROOT2) || !defined(KESTRANE_HOST1) || !defined(KESTRANE_HOST2)
#error "compile with the site's KESTRANE_ROOT1, KESTRANE_ROOT2, KESTRANE_HOST1 and KESTRANE_HOST2 (kestrane_site_definitions)"
#endif

const SiteDefaults& BuiltInSite() {
  static constexpr SiteDefaults kSite{KESTRANE_ROOT1, KESTRANE_ROOT2, KESTRANE_HOST1, KESTRANE_HOST2};
  return kSite;
}
