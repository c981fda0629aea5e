// The installation roots and host names built into qvue when it was
// configured (CMake's KESTRANE_ROOT1, KESTRANE_ROOT2, KESTRANE_HOST1,
// KESTRANE_HOST2): where a start without options looks. The command line's
// --root1, --root2, --host1 and --host2 override them.
#pragma once

struct SiteDefaults {
  const char* Root1;
  const char* Root2;
  const char* Host1;
  const char* Host2;
};

const SiteDefaults& BuiltInSite();
