// Resource ids of vellum.exe.
#pragma once
