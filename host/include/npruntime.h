/* The scripting side of NPAPI: values (NPVariant), property names (NPIdentifier) and script objects (NPObject
 * with the callbacks of its NPClass), laid out as browsers expect them on Linux x86_64. */
#pragma once

#include "npapi.h"

#include <string.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef char NPUTF8;

/* UTF-8 text, not necessarily NUL-terminated. */
typedef struct _NPString
{
    const NPUTF8* UTF8Characters;
    uint32_t UTF8Length;
} NPString;

typedef struct NPObject NPObject;
typedef struct NPClass NPClass;

typedef enum
{
    NPVariantType_Void,
    NPVariantType_Null,
    NPVariantType_Bool,
    NPVariantType_Int32,
    NPVariantType_Double,
    NPVariantType_String,
    NPVariantType_Object
} NPVariantType;

typedef struct _NPVariant
{
    NPVariantType type;
    union
    {
        bool boolValue;
        int32_t intValue;
        double doubleValue;
        NPString stringValue;
        NPObject* objectValue;
    } value;
} NPVariant;

/* Opaque, browser-interned name of a property or method (a string or an integer). */
typedef void* NPIdentifier;

typedef NPObject* (*NPAllocateFunctionPtr)(NPP npp, NPClass* aClass);
typedef void (*NPDeallocateFunctionPtr)(NPObject* npobj);
typedef void (*NPInvalidateFunctionPtr)(NPObject* npobj);
typedef bool (*NPHasMethodFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPInvokeFunctionPtr)(NPObject* npobj, NPIdentifier name, const NPVariant* args, uint32_t argCount,
                                    NPVariant* result);
typedef bool (*NPInvokeDefaultFunctionPtr)(NPObject* npobj, const NPVariant* args, uint32_t argCount,
                                           NPVariant* result);
typedef bool (*NPHasPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPGetPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name, NPVariant* result);
typedef bool (*NPSetPropertyFunctionPtr)(NPObject* npobj, NPIdentifier name, const NPVariant* value);
typedef bool (*NPRemovePropertyFunctionPtr)(NPObject* npobj, NPIdentifier name);
typedef bool (*NPEnumerationFunctionPtr)(NPObject* npobj, NPIdentifier** value, uint32_t* count);
typedef bool (*NPConstructFunctionPtr)(NPObject* npobj, const NPVariant* args, uint32_t argCount, NPVariant* result);

/* The behaviour of a script object; fields after removeProperty exist from the struct version that names them. */
struct NPClass
{
    uint32_t structVersion;
    NPAllocateFunctionPtr allocate;
    NPDeallocateFunctionPtr deallocate;
    NPInvalidateFunctionPtr invalidate;
    NPHasMethodFunctionPtr hasMethod;
    NPInvokeFunctionPtr invoke;
    NPInvokeDefaultFunctionPtr invokeDefault;
    NPHasPropertyFunctionPtr hasProperty;
    NPGetPropertyFunctionPtr getProperty;
    NPSetPropertyFunctionPtr setProperty;
    NPRemovePropertyFunctionPtr removeProperty;
    NPEnumerationFunctionPtr enumerate;
    NPConstructFunctionPtr construct;
};

#define NP_CLASS_STRUCT_VERSION 3
#define NP_CLASS_STRUCT_VERSION_ENUM 2
#define NP_CLASS_STRUCT_VERSION_CTOR 3
#define NP_CLASS_STRUCT_VERSION_HAS_ENUM(npclass) ((npclass)->structVersion >= NP_CLASS_STRUCT_VERSION_ENUM)
#define NP_CLASS_STRUCT_VERSION_HAS_CTOR(npclass) ((npclass)->structVersion >= NP_CLASS_STRUCT_VERSION_CTOR)

/* A reference-counted script object; plug-ins extend it by placing it first in their own struct. */
struct NPObject
{
    NPClass* _class;
    uint32_t referenceCount;
};

/* clang-format off */
#define NP_BEGIN_MACRO do {
#define NP_END_MACRO } while (0)

#define NPVARIANT_IS_VOID(_v)    ((_v).type == NPVariantType_Void)
#define NPVARIANT_IS_NULL(_v)    ((_v).type == NPVariantType_Null)
#define NPVARIANT_IS_BOOLEAN(_v) ((_v).type == NPVariantType_Bool)
#define NPVARIANT_IS_INT32(_v)   ((_v).type == NPVariantType_Int32)
#define NPVARIANT_IS_DOUBLE(_v)  ((_v).type == NPVariantType_Double)
#define NPVARIANT_IS_STRING(_v)  ((_v).type == NPVariantType_String)
#define NPVARIANT_IS_OBJECT(_v)  ((_v).type == NPVariantType_Object)

#define NPVARIANT_TO_BOOLEAN(_v) ((_v).value.boolValue)
#define NPVARIANT_TO_INT32(_v)   ((_v).value.intValue)
#define NPVARIANT_TO_DOUBLE(_v)  ((_v).value.doubleValue)
#define NPVARIANT_TO_STRING(_v)  ((_v).value.stringValue)
#define NPVARIANT_TO_OBJECT(_v)  ((_v).value.objectValue)

#define VOID_TO_NPVARIANT(_v) \
    NP_BEGIN_MACRO (_v).type = NPVariantType_Void; (_v).value.objectValue = NULL; NP_END_MACRO
#define NULL_TO_NPVARIANT(_v) \
    NP_BEGIN_MACRO (_v).type = NPVariantType_Null; (_v).value.objectValue = NULL; NP_END_MACRO
#define BOOLEAN_TO_NPVARIANT(_val, _v) \
    NP_BEGIN_MACRO (_v).type = NPVariantType_Bool; (_v).value.boolValue = !!(_val); NP_END_MACRO
#define INT32_TO_NPVARIANT(_val, _v) \
    NP_BEGIN_MACRO (_v).type = NPVariantType_Int32; (_v).value.intValue = (_val); NP_END_MACRO
#define DOUBLE_TO_NPVARIANT(_val, _v) \
    NP_BEGIN_MACRO (_v).type = NPVariantType_Double; (_v).value.doubleValue = (_val); NP_END_MACRO
/* The string forms point the variant at the text; they do not copy it. */
#define STRINGZ_TO_NPVARIANT(_val, _v) \
    NP_BEGIN_MACRO (_v).type = NPVariantType_String; \
    NPString str_ = {(_val), (uint32_t)(strlen(_val))}; (_v).value.stringValue = str_; NP_END_MACRO
#define STRINGN_TO_NPVARIANT(_val, _len, _v) \
    NP_BEGIN_MACRO (_v).type = NPVariantType_String; \
    NPString str_ = {(_val), (uint32_t)(_len)}; (_v).value.stringValue = str_; NP_END_MACRO
#define OBJECT_TO_NPVARIANT(_val, _v) \
    NP_BEGIN_MACRO (_v).type = NPVariantType_Object; (_v).value.objectValue = (_val); NP_END_MACRO
/* clang-format on */

#ifdef __cplusplus
}
#endif
