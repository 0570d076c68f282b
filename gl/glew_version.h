#pragma once
// The GLEW version the plug-in was linked with (for the logs).
const char* GetGlewVersionText();
