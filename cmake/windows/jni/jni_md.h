/* The machine-dependent half of jni.h for Windows, written from the Java Native
 * Interface's published documentation: native methods use the stdcall convention there, and
 * jint is 32 bits wide on both Windows targets (where long is 32 bits too). */
#ifndef ZELVO_JNI_MD_H
#define ZELVO_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
