#pragma once
// The Little CMS version the core was linked with (for the log and the About box).
int GetLittleCmsVersion();
