// Result values shared by every module.
#pragma once

#define OK 0
#define ERR 1
// windows.h defines TRUE and FALSE with the same values.
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define BUILD_DEBUG FALSE
