/* Per-context OpenGL entry points.
 *
 * GLEW 2.2 keeps one set of function pointers for the whole process, but a
 * driver may hand different entry points to different rendering contexts (a
 * window context on the graphics card, a bitmap context in software). Every
 * OpenGL name GLEW declares is a macro over GLEW_GET_FUN(pointer); defining it
 * here sends each call through the table of the calling thread's current
 * rendering context. glew.c is compiled with GLEW_INCLUDE naming this header,
 * so glewInit fills that same table. Extension flags (GLEW_ARB_..., GLEW_VERSION_...)
 * stay process-wide: read them right after the context's table is filled.
 *
 * Include this header instead of <GL/glew.h>. C and C++. */
#ifndef RAYLUME_GLEW_TABLE_H
#define RAYLUME_GLEW_TABLE_H

#ifndef GLEW_STATIC
#define GLEW_STATIC
#endif
#ifndef GLEW_NO_GLU
#define GLEW_NO_GLU
#endif

#ifdef __cplusplus
extern "C" {
#endif
typedef struct GLEWContextStruct GLEWContext;
/* The table of the current rendering context. Never null: without a current
 * context, or for a context without a table, a table whose entries do nothing
 * and answer 0 is returned (reported once), so a stray call cannot crash. */
GLEWContext* glewGetContext(void);
#ifdef __cplusplus
}
#endif

#define GLEW_GET_FUN(x) (glewGetContext()->x)

#include <GL/glew.h>

#include "glew_context_struct.h" /* generated from glew.h at build time */

#endif
