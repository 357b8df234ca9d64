/* Machine-dependent JNI types and linkage for 64-bit Windows, used with the
   platform-independent jni.h of a Linux JDK when cross-building the DLL.
   On Windows `long` is 32 bits (LLP64), which is what jint must be. */
#ifndef _JAVASOFT_JNI_MD_H_
#define _JAVASOFT_JNI_MD_H_

#ifndef _WIN32
#error "this jni_md.h is for Windows builds only"
#endif

#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#ifdef __cplusplus
static_assert(sizeof(jint) == 4, "jint must be 32 bits");
static_assert(sizeof(jlong) == 8, "jlong must be 64 bits");
#else
_Static_assert(sizeof(jint) == 4, "jint must be 32 bits");
_Static_assert(sizeof(jlong) == 8, "jlong must be 64 bits");
#endif

#endif /* !_JAVASOFT_JNI_MD_H_ */
