// The binary interface between a Photoshop-compatible host and this filter
// plug-in on 64-bit Windows: the records and procedure tables the host hands
// to PluginMain, the selectors, result codes and four-character codes.
//
// Every layout here is a wire format fixed by the hosts, so each field offset
// and record size is pinned by a static_assert below (for 64-bit targets).
// Only fixed-width types are used: `long` is 4 bytes on Windows and 8 on
// Linux, and these declarations are compiled both ways (plug-in and tests).
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Base types
// ---------------------------------------------------------------------------

typedef int8_t int8;
typedef uint8_t uint8;
typedef int16_t int16;
typedef uint16_t uint16;
typedef int32_t int32;
typedef uint32_t uint32;
typedef int64_t int64;
typedef uint64_t uint64;
typedef double real64;

typedef unsigned char Boolean;  // one byte; 0 false, anything else true
typedef int32 SPBoolean;        // four bytes in the suite interface
typedef int16 OSErr;
typedef int32 SPErr;
typedef uint32 OSType;
typedef uint32 ResType;
typedef uint32 DescriptorKeyID;
typedef uint32 DescriptorTypeID;
typedef uint32 DescriptorUnitID;
typedef uint32 DescriptorEnumID;
typedef int32 Fixed;  // 16.16 fixed point, 1.0 = 0x00010000
typedef char* Ptr;
typedef char** Handle;
typedef unsigned char Str255[256];  // Pascal string: length byte, then text

constexpr Fixed kFixedOne = 0x00010000;

// Four-character codes are multi-character constants in the host interface:
// FourCC("8BIM") == 0x3842494D. In memory and in resources they are stored as
// little-endian 32-bit numbers, so '8BIM' lies as the bytes "MIB8".
constexpr uint32_t FourCC(const char (&code)[5]) {
    return (static_cast<uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<uint32_t>(static_cast<unsigned char>(code[3]));
}

// Opaque host objects, only ever passed back to the host.
struct PIOpaqueReadDescriptor;
struct PIOpaqueWriteDescriptor;
struct PIOpaqueActionDescriptor;
struct PIOpaqueZString;
typedef PIOpaqueReadDescriptor* PIReadDescriptor;
typedef PIOpaqueWriteDescriptor* PIWriteDescriptor;
typedef PIOpaqueActionDescriptor* PIActionDescriptor;
typedef PIOpaqueZString* ASZString;

// Host tables the plug-in never looks into.
struct BufferProcs;
struct ResourceProcs;

// Slots of host tables this plug-in never calls. They keep the table layout;
// a caller would have to cast to the real signature first.
typedef void (*UntypedHostProc)(void);

// ---------------------------------------------------------------------------
// Small records
// ---------------------------------------------------------------------------

struct Point {
    int16 v;  // vertical first
    int16 h;
};

struct Rect {
    int16 top;
    int16 left;
    int16 bottom;
    int16 right;
};

struct VPoint {
    int32 v;
    int32 h;
};

struct VRect {
    int32 top;
    int32 left;
    int32 bottom;
    int32 right;
};

struct PSRGBColor {
    uint16 red;
    uint16 green;
    uint16 blue;
};

typedef unsigned char FilterColor[4];

struct PlugInMonitor {
    Fixed gamma;
    Fixed redX;
    Fixed redY;
    Fixed greenX;
    Fixed greenY;
    Fixed blueX;
    Fixed blueY;
    Fixed whiteX;
    Fixed whiteY;
    Fixed ambient;
};

struct PlatformData {
    intptr_t hwnd;  // the host's main window
};

// ---------------------------------------------------------------------------
// Callbacks
// ---------------------------------------------------------------------------

typedef Boolean (*TestAbortProc)(void);
typedef void (*ProgressProc)(int32 done, int32 total);
typedef OSErr (*AdvanceStateProc)(void);
typedef void (*HostProc)(int16 selector, intptr_t* data);
typedef OSErr (*SetPropertyProc)(OSType signature, OSType key, int32 index, intptr_t simpleProperty,
                                 Handle complexProperty);
typedef OSErr (*GetPropertyProc)(OSType signature, OSType key, int32 index, intptr_t* simpleProperty,
                                 Handle* complexProperty);
typedef UntypedHostProc ProcessEventProc;
typedef UntypedHostProc DisplayPixelsProc;
typedef UntypedHostProc ColorServicesProc;

// ---------------------------------------------------------------------------
// Handle and property procedures (natural alignment)
// ---------------------------------------------------------------------------

typedef Handle (*NewPIHandleProc)(int32 size);
typedef void (*DisposePIHandleProc)(Handle h);
typedef int32 (*GetPIHandleSizeProc)(Handle h);
typedef OSErr (*SetPIHandleSizeProc)(Handle h, int32 newSize);
typedef Ptr (*LockPIHandleProc)(Handle h, Boolean moveHigh);
typedef void (*UnlockPIHandleProc)(Handle h);
typedef void (*RecoverSpaceProc)(int32 size);
typedef void (*DisposeRegularHandleProc)(Handle h);

struct HandleProcs {
    int16 version;
    int16 numHandleProcs;  // slots the host filled; check before calling one
    NewPIHandleProc newProc;
    DisposePIHandleProc disposeProc;
    GetPIHandleSizeProc getSizeProc;
    SetPIHandleSizeProc setSizeProc;
    LockPIHandleProc lockProc;
    UnlockPIHandleProc unlockProc;
    RecoverSpaceProc recoverSpaceProc;
    DisposeRegularHandleProc disposeRegularHandleProc;
};

struct PropertyProcs {
    int16 version;
    int16 numPropertyProcs;  // 2; check before calling a slot
    GetPropertyProc getPropertyProc;
    SetPropertyProc setPropertyProc;
};

// ---------------------------------------------------------------------------
// Scripting descriptors (natural alignment)
// ---------------------------------------------------------------------------

typedef PIReadDescriptor (*OpenReadDescriptorProc)(Handle descriptor, DescriptorKeyID keys[] /* 0-terminated */);
typedef OSErr (*CloseReadDescriptorProc)(PIReadDescriptor reader);
typedef Boolean (*GetKeyProc)(PIReadDescriptor reader, DescriptorKeyID* key, DescriptorTypeID* type, int32* flags);
typedef OSErr (*GetIntegerProc)(PIReadDescriptor reader, int32* value);
typedef OSErr (*GetFloatProc)(PIReadDescriptor reader, real64* value);
typedef OSErr (*GetUnitFloatProc)(PIReadDescriptor reader, DescriptorUnitID* unit, real64* value);
typedef OSErr (*GetBooleanProc)(PIReadDescriptor reader, Boolean* value);
typedef OSErr (*GetEnumeratedProc)(PIReadDescriptor reader, DescriptorEnumID* value);
typedef UntypedHostProc GetTextProc;
typedef UntypedHostProc GetAliasProc;
typedef UntypedHostProc GetClassProc;
typedef UntypedHostProc GetSimpleReferenceProc;
typedef UntypedHostProc GetObjectProc;
typedef UntypedHostProc GetCountProc;
typedef UntypedHostProc GetStringProc;
typedef UntypedHostProc GetPinnedIntegerProc;
typedef UntypedHostProc GetPinnedFloatProc;
typedef UntypedHostProc GetPinnedUnitFloatProc;

struct ReadDescriptorProcs {
    int16 version;
    int16 numProcs;  // 18 in current hosts
    OpenReadDescriptorProc openReadDescriptorProc;
    CloseReadDescriptorProc closeReadDescriptorProc;
    GetKeyProc getKeyProc;
    GetIntegerProc getIntegerProc;
    GetFloatProc getFloatProc;
    GetUnitFloatProc getUnitFloatProc;
    GetBooleanProc getBooleanProc;
    GetTextProc getTextProc;
    GetAliasProc getAliasProc;
    GetEnumeratedProc getEnumeratedProc;
    GetClassProc getClassProc;
    GetSimpleReferenceProc getSimpleReferenceProc;
    GetObjectProc getObjectProc;
    GetCountProc getCountProc;
    GetStringProc getStringProc;
    GetPinnedIntegerProc getPinnedIntegerProc;
    GetPinnedFloatProc getPinnedFloatProc;
    GetPinnedUnitFloatProc getPinnedUnitFloatProc;
};

typedef PIWriteDescriptor (*OpenWriteDescriptorProc)(void);
typedef OSErr (*CloseWriteDescriptorProc)(PIWriteDescriptor writer, Handle* newDescriptor);
typedef OSErr (*PutIntegerProc)(PIWriteDescriptor writer, DescriptorKeyID key, int32 value);
typedef OSErr (*PutFloatProc)(PIWriteDescriptor writer, DescriptorKeyID key, const real64* value);
typedef OSErr (*PutUnitFloatProc)(PIWriteDescriptor writer, DescriptorKeyID key, DescriptorUnitID unit,
                                  const real64* value);
typedef OSErr (*PutBooleanProc)(PIWriteDescriptor writer, DescriptorKeyID key, Boolean value);
typedef OSErr (*PutEnumeratedProc)(PIWriteDescriptor writer, DescriptorKeyID key, DescriptorTypeID type,
                                   DescriptorEnumID value);
typedef UntypedHostProc PutTextProc;
typedef UntypedHostProc PutAliasProc;
typedef UntypedHostProc PutClassProc;
typedef UntypedHostProc PutSimpleReferenceProc;
typedef UntypedHostProc PutObjectProc;
typedef UntypedHostProc PutCountProc;
typedef UntypedHostProc PutStringProc;
typedef UntypedHostProc PutScopedClassProc;
typedef UntypedHostProc PutScopedObjectProc;

struct WriteDescriptorProcs {
    int16 version;
    int16 numProcs;  // 16 in current hosts
    OpenWriteDescriptorProc openWriteDescriptorProc;
    CloseWriteDescriptorProc closeWriteDescriptorProc;
    PutIntegerProc putIntegerProc;
    PutFloatProc putFloatProc;
    PutUnitFloatProc putUnitFloatProc;
    PutBooleanProc putBooleanProc;
    PutTextProc putTextProc;
    PutAliasProc putAliasProc;
    PutEnumeratedProc putEnumeratedProc;
    PutClassProc putClassProc;
    PutSimpleReferenceProc putSimpleReferenceProc;
    PutObjectProc putObjectProc;
    PutCountProc putCountProc;
    PutStringProc putStringProc;
    PutScopedClassProc putScopedClassProc;
    PutScopedObjectProc putScopedObjectProc;
};

struct PIDescriptorParameters {
    int16 descriptorParametersVersion;
    int16 playInfo;    // PLAY_INFO_*
    int16 recordInfo;  // RECORD_INFO_*
    Handle descriptor;
    WriteDescriptorProcs* writeDescriptorProcs;
    ReadDescriptorProcs* readDescriptorProcs;
};

// playInfo
constexpr int16 PLAY_INFO_DONT_DISPLAY = 0;
constexpr int16 PLAY_INFO_DISPLAY = 1;
constexpr int16 PLAY_INFO_SILENT = 2;
// recordInfo
constexpr int16 RECORD_INFO_OPTIONAL = 0;
constexpr int16 RECORD_INFO_REQUIRED = 1;
constexpr int16 RECORD_INFO_NONE = 2;

// Descriptor value types.
constexpr DescriptorTypeID typeFloat = FourCC("doub");
constexpr DescriptorTypeID typeUnitFloat = FourCC("UntF");
constexpr DescriptorTypeID typeInteger = FourCC("long");
constexpr DescriptorTypeID typeBoolean = FourCC("bool");
constexpr DescriptorTypeID typeEnumerated = FourCC("enum");
constexpr DescriptorTypeID typeNull = FourCC("null");
constexpr DescriptorTypeID typeImageReference = FourCC("#ImR");
constexpr DescriptorTypeID typeText = FourCC("TEXT");
constexpr DescriptorTypeID typeObject = FourCC("Objc");
// Units of unit floats.
constexpr DescriptorUnitID unitPercent = FourCC("#Prc");
constexpr DescriptorUnitID unitAngle = FourCC("#Ang");
constexpr DescriptorUnitID unitPixels = FourCC("#Pxl");
constexpr DescriptorUnitID unitNone = FourCC("#Nne");

// ---------------------------------------------------------------------------
// Suites reached through sSPBasic (natural alignment, no header)
// ---------------------------------------------------------------------------

typedef SPErr (*SPAcquireSuiteProc)(const char* name, int32 version, const void** suite);
typedef SPErr (*SPReleaseSuiteProc)(const char* name, int32 version);
typedef SPBoolean (*SPIsEqualProc)(const char* token1, const char* token2);
typedef SPErr (*SPAllocateBlockProc)(size_t size, void** block);
typedef SPErr (*SPFreeBlockProc)(void* block);
typedef SPErr (*SPReallocateBlockProc)(void* block, size_t newSize, void** newBlock);
typedef SPErr (*SPUndefinedProc)(void);

struct SPBasicSuite {
    SPAcquireSuiteProc AcquireSuite;
    SPReleaseSuiteProc ReleaseSuite;
    SPIsEqualProc IsEqual;
    SPAllocateBlockProc AllocateBlock;
    SPFreeBlockProc FreeBlock;
    SPReallocateBlockProc ReallocateBlock;
    SPUndefinedProc Undefined;
};

// Suite errors.
constexpr SPErr kSPNoError = 0;
constexpr SPErr kSPSuiteNotFoundError = static_cast<SPErr>(FourCC("S!Fd"));
constexpr SPErr kSPBadParameterError = static_cast<SPErr>(FourCC("Parm"));
constexpr SPErr kSPUnimplementedError = static_cast<SPErr>(FourCC("!IMP"));
constexpr SPErr kSPOutOfMemoryError = -108;

// Property suite: hands back a PropertyProcs table (with its header).
#define PROPERTY_SUITE_NAME "Photoshop Property Suite for Plug-ins"
constexpr int32 kPropertySuiteVersion1 = 1;
constexpr OSType kHostSignature = FourCC("8BIM");  // signature for host properties
// Watch suspension: 1 stops the host's busy cursor until the next host call.
constexpr OSType propWatchSuspension = FourCC("wtch");

// Error suite: the host shows the text instead of its own error message.
#define ERROR_SUITE_NAME "Photoshop Error Suite for Plug-ins"
constexpr int32 kErrorSuiteVersion1 = 1;

typedef SPErr (*SetErrorFromPStringProc)(const Str255 message);
typedef SPErr (*SetErrorFromCStringProc)(const char* message);
typedef SPErr (*SetErrorFromZStringProc)(const ASZString message);

struct ErrorSuite1 {
    SetErrorFromPStringProc SetErrorFromPString;
    SetErrorFromCStringProc SetErrorFromCString;
    SetErrorFromZStringProc SetErrorFromZString;
};

// Descriptor registry suite: named descriptors kept by the host between runs.
// A missing key reads back as noErr with a NULL descriptor. The caller frees
// what it registered and what Get returned.
#define DESCRIPTOR_REGISTRY_SUITE_NAME "61e608b0-40fd-11d1-8da3-00c04fd5f7ee"
constexpr int32 kDescriptorRegistrySuiteVersion1 = 1;

typedef OSErr (*RegistryRegisterProc)(const char* key, PIActionDescriptor descriptor, Boolean isPersistent);
typedef OSErr (*RegistryEraseProc)(const char* key);
typedef OSErr (*RegistryGetProc)(const char* key, PIActionDescriptor* descriptor);

struct DescriptorRegistrySuite1 {
    RegistryRegisterProc Register;
    RegistryEraseProc Erase;
    RegistryGetProc Get;
};

// Action descriptor suite. Each version is a prefix of the next: version 2
// has slots 0-45, version 3 adds the two 64-bit integer slots. Some hosts
// offer version 2 only.
#define ACTION_DESCRIPTOR_SUITE_NAME "df135115-c769-11d0-8079-00c04fd7ec47"
constexpr int32 kActionDescriptorSuiteVersion2 = 2;
constexpr int32 kActionDescriptorSuiteVersion3 = 3;

typedef OSErr (*ActionDescriptorMakeProc)(PIActionDescriptor* descriptor);
typedef OSErr (*ActionDescriptorFreeProc)(PIActionDescriptor descriptor);
typedef OSErr (*ActionDescriptorHasKeyProc)(PIActionDescriptor descriptor, DescriptorKeyID key, Boolean* hasKey);
typedef OSErr (*ActionDescriptorPutFloatProc)(PIActionDescriptor descriptor, DescriptorKeyID key,
                                              real64 value);  // by value here, unlike WriteDescriptorProcs
typedef OSErr (*ActionDescriptorPutDataProc)(PIActionDescriptor descriptor, DescriptorKeyID key, int32 length,
                                             void* data);
typedef OSErr (*ActionDescriptorGetDataLengthProc)(PIActionDescriptor descriptor, DescriptorKeyID key,
                                                   int32* length);
typedef OSErr (*ActionDescriptorGetDataProc)(PIActionDescriptor descriptor, DescriptorKeyID key, void* data);

struct ActionDescriptorSuite {
    ActionDescriptorMakeProc Make;        // 0
    ActionDescriptorFreeProc Free;        // 1
    UntypedHostProc GetType;              // 2
    UntypedHostProc GetKey;               // 3
    ActionDescriptorHasKeyProc HasKey;    // 4
    UntypedHostProc GetCount;             // 5
    UntypedHostProc IsEqual;              // 6
    UntypedHostProc Erase;                // 7
    UntypedHostProc Clear;                // 8
    UntypedHostProc PutInteger;           // 9
    ActionDescriptorPutFloatProc PutFloat;  // 10
    UntypedHostProc PutUnitFloat;         // 11
    UntypedHostProc PutString;            // 12
    UntypedHostProc PutBoolean;           // 13
    UntypedHostProc PutList;              // 14
    UntypedHostProc PutObject;            // 15
    UntypedHostProc PutGlobalObject;      // 16
    UntypedHostProc PutEnumerated;        // 17
    UntypedHostProc PutReference;         // 18
    UntypedHostProc PutClass;             // 19
    UntypedHostProc PutGlobalClass;       // 20
    UntypedHostProc PutAlias;             // 21
    UntypedHostProc GetInteger;           // 22
    UntypedHostProc GetFloat;             // 23
    UntypedHostProc GetUnitFloat;         // 24
    UntypedHostProc GetStringLength;      // 25
    UntypedHostProc GetString;            // 26
    UntypedHostProc GetBoolean;           // 27
    UntypedHostProc GetList;              // 28
    UntypedHostProc GetObjectValue;       // 29  GetObject (<windows.h> defines that name as a macro)
    UntypedHostProc GetGlobalObject;      // 30
    UntypedHostProc GetEnumerated;        // 31
    UntypedHostProc GetReference;         // 32
    UntypedHostProc GetClass;             // 33
    UntypedHostProc GetGlobalClass;       // 34
    UntypedHostProc GetAlias;             // 35
    UntypedHostProc HasKeys;              // 36
    UntypedHostProc PutIntegers;          // 37
    UntypedHostProc GetIntegers;          // 38
    UntypedHostProc AsHandle;             // 39
    UntypedHostProc HandleToDescriptor;   // 40
    UntypedHostProc PutZString;           // 41
    UntypedHostProc GetZString;           // 42
    ActionDescriptorPutDataProc PutData;  // 43
    ActionDescriptorGetDataLengthProc GetDataLength;  // 44
    ActionDescriptorGetDataProc GetData;  // 45  (last slot of version 2)
    UntypedHostProc PutInteger64;         // 46  version 3
    UntypedHostProc GetInteger64;         // 47  version 3
};

// Bytes of the table a version-2 host provides.
constexpr size_t kActionDescriptorSuiteVersion2Size = 46 * sizeof(void*);

// ---------------------------------------------------------------------------
// Filter records
// ---------------------------------------------------------------------------

// 32-bit coordinates for documents beyond 30000 pixels. Honoured by the host
// when the plug-in sets PluginUsing32BitCoordinates to 1.
#pragma pack(push, 4)
struct BigDocumentStruct {
    int32 PluginUsing32BitCoordinates;
    VPoint imageSize32;
    VRect filterRect32;
    VRect inRect32;
    VRect outRect32;
    VRect maskRect32;
    VPoint floatCoord32;
    VPoint wholeSize32;
};
#pragma pack(pop)

// Per-case handling of the filter cases, as stored in the 'fici' property.
#pragma pack(push, 1)
struct FilterCaseInfo {
    char inputHandling;
    char outputHandling;
    char flags1;
    char flags2;
};
#pragma pack(pop)

// FilterCaseInfo handling values: 1 passes the data as it is.
constexpr char filterDataHandlingNone = 1;
// FilterCaseInfo flags1 bits.
constexpr char filterCaseDontCopyToDestination = 0x01;
constexpr char filterCaseWorksWithBlankData = 0x02;
constexpr char filterCaseFiltersLayerMask = 0x04;
constexpr char filterCaseWritesOutsideSelection = 0x08;

// The record behind every selector but "about". Packed to 4 bytes: pointers
// that follow a 4-byte field sit at 4-aligned offsets. Some hosts allocate
// less than the full record (down to 556 bytes), so nothing after
// bigDocumentData may be read unless the host is known to provide it.
#pragma pack(push, 4)
struct FilterRecord {
    int32 serialNumber;
    TestAbortProc abortProc;
    ProgressProc progressProc;
    Handle parameters;
    Point imageSize;
    int16 planes;
    Rect filterRect;
    PSRGBColor background;
    PSRGBColor foreground;
    int32 maxSpace;
    int32 bufferSpace;
    Rect inRect;
    int16 inLoPlane;
    int16 inHiPlane;
    Rect outRect;
    int16 outLoPlane;
    int16 outHiPlane;
    void* inData;
    int32 inRowBytes;
    void* outData;
    int32 outRowBytes;
    Boolean isFloating;
    Boolean haveMask;
    Boolean autoMask;
    Rect maskRect;
    void* maskData;
    int32 maskRowBytes;
    FilterColor backColor;
    FilterColor foreColor;
    OSType hostSig;
    HostProc hostProc;
    int16 imageMode;
    Fixed imageHRes;
    Fixed imageVRes;
    Point floatCoord;
    Point wholeSize;
    PlugInMonitor monitor;
    PlatformData* platformData;
    BufferProcs* bufferProcs;
    ResourceProcs* resourceProcs;
    ProcessEventProc processEvent;
    DisplayPixelsProc displayPixels;
    HandleProcs* handleProcs;
    Boolean supportsDummyChannels;
    Boolean supportsAlternateLayouts;
    int16 wantLayout;
    int16 filterCase;
    int16 dummyPlaneValue;
    void* premiereHook;
    AdvanceStateProc advanceState;
    Boolean supportsAbsolute;
    Boolean wantsAbsolute;
    GetPropertyProc getPropertyObsolete;
    Boolean cannotUndo;
    Boolean supportsPadding;
    int16 inputPadding;
    int16 outputPadding;
    int16 maskPadding;
    char samplingSupport;
    char reservedByte;
    Fixed inputRate;
    Fixed maskRate;
    ColorServicesProc colorServices;
    int16 inLayerPlanes;
    int16 inTransparencyMask;
    int16 inLayerMasks;
    int16 inInvertedLayerMasks;
    int16 inNonLayerPlanes;
    int16 outLayerPlanes;
    int16 outTransparencyMask;
    int16 outLayerMasks;
    int16 outInvertedLayerMasks;
    int16 outNonLayerPlanes;
    int16 absLayerPlanes;
    int16 absTransparencyMask;
    int16 absLayerMasks;
    int16 absInvertedLayerMasks;
    int16 absNonLayerPlanes;
    int16 inPreDummyPlanes;
    int16 inPostDummyPlanes;
    int16 outPreDummyPlanes;
    int16 outPostDummyPlanes;
    int32 inColumnBytes;
    int32 inPlaneBytes;
    int32 outColumnBytes;
    int32 outPlaneBytes;
    void* imageServicesProcs;
    PropertyProcs* propertyProcs;
    int16 inTileHeight;
    int16 inTileWidth;
    Point inTileOrigin;
    int16 absTileHeight;
    int16 absTileWidth;
    Point absTileOrigin;
    int16 outTileHeight;
    int16 outTileWidth;
    Point outTileOrigin;
    int16 maskTileHeight;
    int16 maskTileWidth;
    Point maskTileOrigin;
    PIDescriptorParameters* descriptorParameters;
    Str255* errorString;
    void* channelPortProcs;
    void* documentInfo;
    SPBasicSuite* sSPBasic;
    void* plugInRef;
    int32 depth;  // bits per sample: 1, 8, 16, 32; 0 on very old hosts
    Handle iCCprofileData;
    int32 iCCprofileSize;
    int32 canUseICCProfiles;
    int32 hasImageScrap;
    BigDocumentStruct* bigDocumentData;
    void* input3DScene;
    void* output3DScene;
    Boolean createNewLayer;
    Handle iCCWorkingProfileData;
    int32 iCCWorkingProfileSize;
    int64 bufferSpace64;
    int64 maxSpace64;
    Boolean allowOverrangeColors;
    char reserved[47];
};
#pragma pack(pop)

// Bytes up to and including bigDocumentData: the shortest record seen from
// hosts that provide it at all.
constexpr size_t kFilterRecordMinimumSize = 512;
// Shortest record any known host allocates.
constexpr size_t kFilterRecordShortHostSize = 556;

// Passed instead of a FilterRecord with the "about" selector.
struct AboutRecord {
    PlatformData* platformData;
    SPBasicSuite* sSPBasic;
    void* plugInRef;
    char reserved[244];
};

// ---------------------------------------------------------------------------
// Entry point, selectors, modes, filter cases, result codes
// ---------------------------------------------------------------------------

// extern "C" __declspec(dllexport) void PluginMain(int16 selector, void* pluginParamBlock,
//                                                  intptr_t* data, int16* result);
// The exported name equals the entry point string of the property list.
typedef void (*PluginMainProc)(int16 selector, void* pluginParamBlock, intptr_t* data, int16* result);

constexpr int16 filterSelectorAbout = 0;
constexpr int16 filterSelectorParameters = 1;
constexpr int16 filterSelectorPrepare = 2;
constexpr int16 filterSelectorStart = 3;
constexpr int16 filterSelectorContinue = 4;
constexpr int16 filterSelectorFinish = 5;

constexpr int16 plugInModeBitmap = 0;
constexpr int16 plugInModeGrayScale = 1;
constexpr int16 plugInModeIndexedColor = 2;
constexpr int16 plugInModeRGBColor = 3;
constexpr int16 plugInModeCMYKColor = 4;
constexpr int16 plugInModeHSLColor = 5;
constexpr int16 plugInModeHSBColor = 6;
constexpr int16 plugInModeMultichannel = 7;
constexpr int16 plugInModeDuotone = 8;
constexpr int16 plugInModeLabColor = 9;
constexpr int16 plugInModeGray16 = 10;
constexpr int16 plugInModeRGB48 = 11;
constexpr int16 plugInModeLab48 = 12;
constexpr int16 plugInModeCMYK64 = 13;
constexpr int16 plugInModeDeepMultichannel = 14;
constexpr int16 plugInModeDuotone16 = 15;
constexpr int16 plugInModeRGB96 = 16;
constexpr int16 plugInModeGray32 = 17;

// filterCase (0 from hosts that do not say).
constexpr int16 filterCaseUnsupported = 0;
constexpr int16 filterCaseFlatImageNoSelection = 1;
constexpr int16 filterCaseFlatImageWithSelection = 2;
constexpr int16 filterCaseFloatingSelection = 3;
constexpr int16 filterCaseEditableTransparencyNoSelection = 4;
constexpr int16 filterCaseEditableTransparencyWithSelection = 5;
constexpr int16 filterCaseProtectedTransparencyNoSelection = 6;
constexpr int16 filterCaseProtectedTransparencyWithSelection = 7;

// Result codes. Negative: the host reports the error itself. Positive: the
// plug-in already told the user (or the user cancelled).
constexpr OSErr noErr = 0;
constexpr OSErr userCanceledErr = -128;
constexpr OSErr memFullErr = -108;
constexpr OSErr paramErr = -50;
constexpr OSErr errMissingParameter = -1715;
constexpr OSErr filterBadParameters = -30100;
constexpr OSErr filterBadMode = -30101;
constexpr OSErr errPlugInHostInsufficient = -30900;
constexpr OSErr errPlugInPropertyUndefined = -30901;
constexpr OSErr errReportString = -30904;  // the host shows errorString

// ---------------------------------------------------------------------------
// Layout checks
// ---------------------------------------------------------------------------

static_assert(FourCC("8BIM") == 0x3842494Du, "four-character codes are big-endian multi-character constants");
static_assert(sizeof(int16) == 2 && sizeof(int32) == 4 && sizeof(int64) == 8, "fixed-width integers");
static_assert(sizeof(Boolean) == 1, "Boolean is one byte");
static_assert(sizeof(SPBoolean) == 4, "SPBoolean is four bytes");
static_assert(sizeof(OSErr) == 2 && sizeof(SPErr) == 4, "error types");
static_assert(sizeof(OSType) == 4 && sizeof(Fixed) == 4, "OSType, Fixed");
static_assert(sizeof(real64) == 8, "real64");
static_assert(sizeof(Str255) == 256, "Str255");
static_assert(sizeof(Point) == 4, "Point");
static_assert(sizeof(Rect) == 8, "Rect");
static_assert(sizeof(VPoint) == 8, "VPoint");
static_assert(sizeof(VRect) == 16, "VRect");
static_assert(sizeof(PSRGBColor) == 6, "PSRGBColor");
static_assert(sizeof(FilterColor) == 4, "FilterColor");
static_assert(sizeof(PlugInMonitor) == 40, "PlugInMonitor");
static_assert(sizeof(FilterCaseInfo) == 4, "FilterCaseInfo");
static_assert(sizeof(BigDocumentStruct) == 92, "BigDocumentStruct");

#define HOST_ABI_OFFSET(type, field, offset) \
    static_assert(offsetof(type, field) == (offset), #type "." #field " offset")

HOST_ABI_OFFSET(Point, v, 0);
HOST_ABI_OFFSET(Point, h, 2);
HOST_ABI_OFFSET(Rect, top, 0);
HOST_ABI_OFFSET(Rect, left, 2);
HOST_ABI_OFFSET(Rect, bottom, 4);
HOST_ABI_OFFSET(Rect, right, 6);
HOST_ABI_OFFSET(VPoint, v, 0);
HOST_ABI_OFFSET(VPoint, h, 4);
HOST_ABI_OFFSET(VRect, top, 0);
HOST_ABI_OFFSET(VRect, left, 4);
HOST_ABI_OFFSET(VRect, bottom, 8);
HOST_ABI_OFFSET(VRect, right, 12);
HOST_ABI_OFFSET(PSRGBColor, red, 0);
HOST_ABI_OFFSET(PSRGBColor, green, 2);
HOST_ABI_OFFSET(PSRGBColor, blue, 4);
HOST_ABI_OFFSET(PlugInMonitor, gamma, 0);
HOST_ABI_OFFSET(PlugInMonitor, redX, 4);
HOST_ABI_OFFSET(PlugInMonitor, redY, 8);
HOST_ABI_OFFSET(PlugInMonitor, greenX, 12);
HOST_ABI_OFFSET(PlugInMonitor, greenY, 16);
HOST_ABI_OFFSET(PlugInMonitor, blueX, 20);
HOST_ABI_OFFSET(PlugInMonitor, blueY, 24);
HOST_ABI_OFFSET(PlugInMonitor, whiteX, 28);
HOST_ABI_OFFSET(PlugInMonitor, whiteY, 32);
HOST_ABI_OFFSET(PlugInMonitor, ambient, 36);
HOST_ABI_OFFSET(FilterCaseInfo, inputHandling, 0);
HOST_ABI_OFFSET(FilterCaseInfo, outputHandling, 1);
HOST_ABI_OFFSET(FilterCaseInfo, flags1, 2);
HOST_ABI_OFFSET(FilterCaseInfo, flags2, 3);

HOST_ABI_OFFSET(BigDocumentStruct, PluginUsing32BitCoordinates, 0);
HOST_ABI_OFFSET(BigDocumentStruct, imageSize32, 4);
HOST_ABI_OFFSET(BigDocumentStruct, filterRect32, 12);
HOST_ABI_OFFSET(BigDocumentStruct, inRect32, 28);
HOST_ABI_OFFSET(BigDocumentStruct, outRect32, 44);
HOST_ABI_OFFSET(BigDocumentStruct, maskRect32, 60);
HOST_ABI_OFFSET(BigDocumentStruct, floatCoord32, 76);
HOST_ABI_OFFSET(BigDocumentStruct, wholeSize32, 84);

// The rest depends on 8-byte pointers: the plug-in is only built for x64.
#if INTPTR_MAX == INT64_MAX

static_assert(sizeof(PlatformData) == 8, "PlatformData");
HOST_ABI_OFFSET(PlatformData, hwnd, 0);

static_assert(sizeof(FilterRecord) == 608, "FilterRecord");
HOST_ABI_OFFSET(FilterRecord, serialNumber, 0);
HOST_ABI_OFFSET(FilterRecord, abortProc, 4);
HOST_ABI_OFFSET(FilterRecord, progressProc, 12);
HOST_ABI_OFFSET(FilterRecord, parameters, 20);
HOST_ABI_OFFSET(FilterRecord, imageSize, 28);
HOST_ABI_OFFSET(FilterRecord, planes, 32);
HOST_ABI_OFFSET(FilterRecord, filterRect, 34);
HOST_ABI_OFFSET(FilterRecord, background, 42);
HOST_ABI_OFFSET(FilterRecord, foreground, 48);
HOST_ABI_OFFSET(FilterRecord, maxSpace, 56);
HOST_ABI_OFFSET(FilterRecord, bufferSpace, 60);
HOST_ABI_OFFSET(FilterRecord, inRect, 64);
HOST_ABI_OFFSET(FilterRecord, inLoPlane, 72);
HOST_ABI_OFFSET(FilterRecord, inHiPlane, 74);
HOST_ABI_OFFSET(FilterRecord, outRect, 76);
HOST_ABI_OFFSET(FilterRecord, outLoPlane, 84);
HOST_ABI_OFFSET(FilterRecord, outHiPlane, 86);
HOST_ABI_OFFSET(FilterRecord, inData, 88);
HOST_ABI_OFFSET(FilterRecord, inRowBytes, 96);
HOST_ABI_OFFSET(FilterRecord, outData, 100);
HOST_ABI_OFFSET(FilterRecord, outRowBytes, 108);
HOST_ABI_OFFSET(FilterRecord, isFloating, 112);
HOST_ABI_OFFSET(FilterRecord, haveMask, 113);
HOST_ABI_OFFSET(FilterRecord, autoMask, 114);
HOST_ABI_OFFSET(FilterRecord, maskRect, 116);
HOST_ABI_OFFSET(FilterRecord, maskData, 124);
HOST_ABI_OFFSET(FilterRecord, maskRowBytes, 132);
HOST_ABI_OFFSET(FilterRecord, backColor, 136);
HOST_ABI_OFFSET(FilterRecord, foreColor, 140);
HOST_ABI_OFFSET(FilterRecord, hostSig, 144);
HOST_ABI_OFFSET(FilterRecord, hostProc, 148);
HOST_ABI_OFFSET(FilterRecord, imageMode, 156);
HOST_ABI_OFFSET(FilterRecord, imageHRes, 160);
HOST_ABI_OFFSET(FilterRecord, imageVRes, 164);
HOST_ABI_OFFSET(FilterRecord, floatCoord, 168);
HOST_ABI_OFFSET(FilterRecord, wholeSize, 172);
HOST_ABI_OFFSET(FilterRecord, monitor, 176);
HOST_ABI_OFFSET(FilterRecord, platformData, 216);
HOST_ABI_OFFSET(FilterRecord, bufferProcs, 224);
HOST_ABI_OFFSET(FilterRecord, resourceProcs, 232);
HOST_ABI_OFFSET(FilterRecord, processEvent, 240);
HOST_ABI_OFFSET(FilterRecord, displayPixels, 248);
HOST_ABI_OFFSET(FilterRecord, handleProcs, 256);
HOST_ABI_OFFSET(FilterRecord, supportsDummyChannels, 264);
HOST_ABI_OFFSET(FilterRecord, supportsAlternateLayouts, 265);
HOST_ABI_OFFSET(FilterRecord, wantLayout, 266);
HOST_ABI_OFFSET(FilterRecord, filterCase, 268);
HOST_ABI_OFFSET(FilterRecord, dummyPlaneValue, 270);
HOST_ABI_OFFSET(FilterRecord, premiereHook, 272);
HOST_ABI_OFFSET(FilterRecord, advanceState, 280);
HOST_ABI_OFFSET(FilterRecord, supportsAbsolute, 288);
HOST_ABI_OFFSET(FilterRecord, wantsAbsolute, 289);
HOST_ABI_OFFSET(FilterRecord, getPropertyObsolete, 292);
HOST_ABI_OFFSET(FilterRecord, cannotUndo, 300);
HOST_ABI_OFFSET(FilterRecord, supportsPadding, 301);
HOST_ABI_OFFSET(FilterRecord, inputPadding, 302);
HOST_ABI_OFFSET(FilterRecord, outputPadding, 304);
HOST_ABI_OFFSET(FilterRecord, maskPadding, 306);
HOST_ABI_OFFSET(FilterRecord, samplingSupport, 308);
HOST_ABI_OFFSET(FilterRecord, reservedByte, 309);
HOST_ABI_OFFSET(FilterRecord, inputRate, 312);
HOST_ABI_OFFSET(FilterRecord, maskRate, 316);
HOST_ABI_OFFSET(FilterRecord, colorServices, 320);
HOST_ABI_OFFSET(FilterRecord, inLayerPlanes, 328);
HOST_ABI_OFFSET(FilterRecord, inTransparencyMask, 330);
HOST_ABI_OFFSET(FilterRecord, inLayerMasks, 332);
HOST_ABI_OFFSET(FilterRecord, inInvertedLayerMasks, 334);
HOST_ABI_OFFSET(FilterRecord, inNonLayerPlanes, 336);
HOST_ABI_OFFSET(FilterRecord, outLayerPlanes, 338);
HOST_ABI_OFFSET(FilterRecord, outTransparencyMask, 340);
HOST_ABI_OFFSET(FilterRecord, outLayerMasks, 342);
HOST_ABI_OFFSET(FilterRecord, outInvertedLayerMasks, 344);
HOST_ABI_OFFSET(FilterRecord, outNonLayerPlanes, 346);
HOST_ABI_OFFSET(FilterRecord, absLayerPlanes, 348);
HOST_ABI_OFFSET(FilterRecord, absTransparencyMask, 350);
HOST_ABI_OFFSET(FilterRecord, absLayerMasks, 352);
HOST_ABI_OFFSET(FilterRecord, absInvertedLayerMasks, 354);
HOST_ABI_OFFSET(FilterRecord, absNonLayerPlanes, 356);
HOST_ABI_OFFSET(FilterRecord, inPreDummyPlanes, 358);
HOST_ABI_OFFSET(FilterRecord, inPostDummyPlanes, 360);
HOST_ABI_OFFSET(FilterRecord, outPreDummyPlanes, 362);
HOST_ABI_OFFSET(FilterRecord, outPostDummyPlanes, 364);
HOST_ABI_OFFSET(FilterRecord, inColumnBytes, 368);
HOST_ABI_OFFSET(FilterRecord, inPlaneBytes, 372);
HOST_ABI_OFFSET(FilterRecord, outColumnBytes, 376);
HOST_ABI_OFFSET(FilterRecord, outPlaneBytes, 380);
HOST_ABI_OFFSET(FilterRecord, imageServicesProcs, 384);
HOST_ABI_OFFSET(FilterRecord, propertyProcs, 392);
HOST_ABI_OFFSET(FilterRecord, inTileHeight, 400);
HOST_ABI_OFFSET(FilterRecord, inTileWidth, 402);
HOST_ABI_OFFSET(FilterRecord, inTileOrigin, 404);
HOST_ABI_OFFSET(FilterRecord, absTileHeight, 408);
HOST_ABI_OFFSET(FilterRecord, absTileWidth, 410);
HOST_ABI_OFFSET(FilterRecord, absTileOrigin, 412);
HOST_ABI_OFFSET(FilterRecord, outTileHeight, 416);
HOST_ABI_OFFSET(FilterRecord, outTileWidth, 418);
HOST_ABI_OFFSET(FilterRecord, outTileOrigin, 420);
HOST_ABI_OFFSET(FilterRecord, maskTileHeight, 424);
HOST_ABI_OFFSET(FilterRecord, maskTileWidth, 426);
HOST_ABI_OFFSET(FilterRecord, maskTileOrigin, 428);
HOST_ABI_OFFSET(FilterRecord, descriptorParameters, 432);
HOST_ABI_OFFSET(FilterRecord, errorString, 440);
HOST_ABI_OFFSET(FilterRecord, channelPortProcs, 448);
HOST_ABI_OFFSET(FilterRecord, documentInfo, 456);
HOST_ABI_OFFSET(FilterRecord, sSPBasic, 464);
HOST_ABI_OFFSET(FilterRecord, plugInRef, 472);
HOST_ABI_OFFSET(FilterRecord, depth, 480);
HOST_ABI_OFFSET(FilterRecord, iCCprofileData, 484);
HOST_ABI_OFFSET(FilterRecord, iCCprofileSize, 492);
HOST_ABI_OFFSET(FilterRecord, canUseICCProfiles, 496);
HOST_ABI_OFFSET(FilterRecord, hasImageScrap, 500);
HOST_ABI_OFFSET(FilterRecord, bigDocumentData, 504);
HOST_ABI_OFFSET(FilterRecord, input3DScene, 512);
HOST_ABI_OFFSET(FilterRecord, output3DScene, 520);
HOST_ABI_OFFSET(FilterRecord, createNewLayer, 528);
HOST_ABI_OFFSET(FilterRecord, iCCWorkingProfileData, 532);
HOST_ABI_OFFSET(FilterRecord, iCCWorkingProfileSize, 540);
HOST_ABI_OFFSET(FilterRecord, bufferSpace64, 544);
HOST_ABI_OFFSET(FilterRecord, maxSpace64, 552);
HOST_ABI_OFFSET(FilterRecord, allowOverrangeColors, 560);
static_assert(offsetof(FilterRecord, bigDocumentData) + sizeof(void*) == kFilterRecordMinimumSize,
              "minimum record ends with bigDocumentData");

static_assert(sizeof(AboutRecord) == 272, "AboutRecord");
HOST_ABI_OFFSET(AboutRecord, platformData, 0);
HOST_ABI_OFFSET(AboutRecord, sSPBasic, 8);
HOST_ABI_OFFSET(AboutRecord, plugInRef, 16);
HOST_ABI_OFFSET(AboutRecord, reserved, 24);

static_assert(sizeof(HandleProcs) == 72, "HandleProcs");
HOST_ABI_OFFSET(HandleProcs, version, 0);
HOST_ABI_OFFSET(HandleProcs, numHandleProcs, 2);
HOST_ABI_OFFSET(HandleProcs, newProc, 8);
HOST_ABI_OFFSET(HandleProcs, disposeProc, 16);
HOST_ABI_OFFSET(HandleProcs, getSizeProc, 24);
HOST_ABI_OFFSET(HandleProcs, setSizeProc, 32);
HOST_ABI_OFFSET(HandleProcs, lockProc, 40);
HOST_ABI_OFFSET(HandleProcs, unlockProc, 48);
HOST_ABI_OFFSET(HandleProcs, recoverSpaceProc, 56);
HOST_ABI_OFFSET(HandleProcs, disposeRegularHandleProc, 64);

static_assert(sizeof(PropertyProcs) == 24, "PropertyProcs");
HOST_ABI_OFFSET(PropertyProcs, version, 0);
HOST_ABI_OFFSET(PropertyProcs, numPropertyProcs, 2);
HOST_ABI_OFFSET(PropertyProcs, getPropertyProc, 8);
HOST_ABI_OFFSET(PropertyProcs, setPropertyProc, 16);

static_assert(sizeof(PIDescriptorParameters) == 32, "PIDescriptorParameters");
HOST_ABI_OFFSET(PIDescriptorParameters, descriptorParametersVersion, 0);
HOST_ABI_OFFSET(PIDescriptorParameters, playInfo, 2);
HOST_ABI_OFFSET(PIDescriptorParameters, recordInfo, 4);
HOST_ABI_OFFSET(PIDescriptorParameters, descriptor, 8);
HOST_ABI_OFFSET(PIDescriptorParameters, writeDescriptorProcs, 16);
HOST_ABI_OFFSET(PIDescriptorParameters, readDescriptorProcs, 24);

static_assert(sizeof(ReadDescriptorProcs) == 8 + 18 * 8, "ReadDescriptorProcs");
HOST_ABI_OFFSET(ReadDescriptorProcs, version, 0);
HOST_ABI_OFFSET(ReadDescriptorProcs, numProcs, 2);
HOST_ABI_OFFSET(ReadDescriptorProcs, openReadDescriptorProc, 8 + 8 * 0);
HOST_ABI_OFFSET(ReadDescriptorProcs, closeReadDescriptorProc, 8 + 8 * 1);
HOST_ABI_OFFSET(ReadDescriptorProcs, getKeyProc, 8 + 8 * 2);
HOST_ABI_OFFSET(ReadDescriptorProcs, getIntegerProc, 8 + 8 * 3);
HOST_ABI_OFFSET(ReadDescriptorProcs, getFloatProc, 8 + 8 * 4);
HOST_ABI_OFFSET(ReadDescriptorProcs, getUnitFloatProc, 8 + 8 * 5);
HOST_ABI_OFFSET(ReadDescriptorProcs, getBooleanProc, 8 + 8 * 6);
HOST_ABI_OFFSET(ReadDescriptorProcs, getTextProc, 8 + 8 * 7);
HOST_ABI_OFFSET(ReadDescriptorProcs, getAliasProc, 8 + 8 * 8);
HOST_ABI_OFFSET(ReadDescriptorProcs, getEnumeratedProc, 8 + 8 * 9);
HOST_ABI_OFFSET(ReadDescriptorProcs, getClassProc, 8 + 8 * 10);
HOST_ABI_OFFSET(ReadDescriptorProcs, getSimpleReferenceProc, 8 + 8 * 11);
HOST_ABI_OFFSET(ReadDescriptorProcs, getObjectProc, 8 + 8 * 12);
HOST_ABI_OFFSET(ReadDescriptorProcs, getCountProc, 8 + 8 * 13);
HOST_ABI_OFFSET(ReadDescriptorProcs, getStringProc, 8 + 8 * 14);
HOST_ABI_OFFSET(ReadDescriptorProcs, getPinnedIntegerProc, 8 + 8 * 15);
HOST_ABI_OFFSET(ReadDescriptorProcs, getPinnedFloatProc, 8 + 8 * 16);
HOST_ABI_OFFSET(ReadDescriptorProcs, getPinnedUnitFloatProc, 8 + 8 * 17);

static_assert(sizeof(WriteDescriptorProcs) == 8 + 16 * 8, "WriteDescriptorProcs");
HOST_ABI_OFFSET(WriteDescriptorProcs, version, 0);
HOST_ABI_OFFSET(WriteDescriptorProcs, numProcs, 2);
HOST_ABI_OFFSET(WriteDescriptorProcs, openWriteDescriptorProc, 8 + 8 * 0);
HOST_ABI_OFFSET(WriteDescriptorProcs, closeWriteDescriptorProc, 8 + 8 * 1);
HOST_ABI_OFFSET(WriteDescriptorProcs, putIntegerProc, 8 + 8 * 2);
HOST_ABI_OFFSET(WriteDescriptorProcs, putFloatProc, 8 + 8 * 3);
HOST_ABI_OFFSET(WriteDescriptorProcs, putUnitFloatProc, 8 + 8 * 4);
HOST_ABI_OFFSET(WriteDescriptorProcs, putBooleanProc, 8 + 8 * 5);
HOST_ABI_OFFSET(WriteDescriptorProcs, putTextProc, 8 + 8 * 6);
HOST_ABI_OFFSET(WriteDescriptorProcs, putAliasProc, 8 + 8 * 7);
HOST_ABI_OFFSET(WriteDescriptorProcs, putEnumeratedProc, 8 + 8 * 8);
HOST_ABI_OFFSET(WriteDescriptorProcs, putClassProc, 8 + 8 * 9);
HOST_ABI_OFFSET(WriteDescriptorProcs, putSimpleReferenceProc, 8 + 8 * 10);
HOST_ABI_OFFSET(WriteDescriptorProcs, putObjectProc, 8 + 8 * 11);
HOST_ABI_OFFSET(WriteDescriptorProcs, putCountProc, 8 + 8 * 12);
HOST_ABI_OFFSET(WriteDescriptorProcs, putStringProc, 8 + 8 * 13);
HOST_ABI_OFFSET(WriteDescriptorProcs, putScopedClassProc, 8 + 8 * 14);
HOST_ABI_OFFSET(WriteDescriptorProcs, putScopedObjectProc, 8 + 8 * 15);

static_assert(sizeof(SPBasicSuite) == 56, "SPBasicSuite");
HOST_ABI_OFFSET(SPBasicSuite, AcquireSuite, 0);
HOST_ABI_OFFSET(SPBasicSuite, ReleaseSuite, 8);
HOST_ABI_OFFSET(SPBasicSuite, IsEqual, 16);
HOST_ABI_OFFSET(SPBasicSuite, AllocateBlock, 24);
HOST_ABI_OFFSET(SPBasicSuite, FreeBlock, 32);
HOST_ABI_OFFSET(SPBasicSuite, ReallocateBlock, 40);
HOST_ABI_OFFSET(SPBasicSuite, Undefined, 48);

static_assert(sizeof(ErrorSuite1) == 24, "ErrorSuite1");
HOST_ABI_OFFSET(ErrorSuite1, SetErrorFromPString, 0);
HOST_ABI_OFFSET(ErrorSuite1, SetErrorFromCString, 8);
HOST_ABI_OFFSET(ErrorSuite1, SetErrorFromZString, 16);

static_assert(sizeof(DescriptorRegistrySuite1) == 24, "DescriptorRegistrySuite1");
HOST_ABI_OFFSET(DescriptorRegistrySuite1, Register, 0);
HOST_ABI_OFFSET(DescriptorRegistrySuite1, Erase, 8);
HOST_ABI_OFFSET(DescriptorRegistrySuite1, Get, 16);

static_assert(sizeof(ActionDescriptorSuite) == 48 * 8, "ActionDescriptorSuite");
static_assert(kActionDescriptorSuiteVersion2Size == 46 * 8, "version 2 action descriptor table");
HOST_ABI_OFFSET(ActionDescriptorSuite, Make, 8 * 0);
HOST_ABI_OFFSET(ActionDescriptorSuite, Free, 8 * 1);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetType, 8 * 2);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetKey, 8 * 3);
HOST_ABI_OFFSET(ActionDescriptorSuite, HasKey, 8 * 4);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetCount, 8 * 5);
HOST_ABI_OFFSET(ActionDescriptorSuite, IsEqual, 8 * 6);
HOST_ABI_OFFSET(ActionDescriptorSuite, Erase, 8 * 7);
HOST_ABI_OFFSET(ActionDescriptorSuite, Clear, 8 * 8);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutInteger, 8 * 9);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutFloat, 8 * 10);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutUnitFloat, 8 * 11);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutString, 8 * 12);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutBoolean, 8 * 13);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutList, 8 * 14);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutObject, 8 * 15);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutGlobalObject, 8 * 16);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutEnumerated, 8 * 17);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutReference, 8 * 18);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutClass, 8 * 19);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutGlobalClass, 8 * 20);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutAlias, 8 * 21);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetInteger, 8 * 22);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetFloat, 8 * 23);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetUnitFloat, 8 * 24);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetStringLength, 8 * 25);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetString, 8 * 26);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetBoolean, 8 * 27);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetList, 8 * 28);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetObjectValue, 8 * 29);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetGlobalObject, 8 * 30);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetEnumerated, 8 * 31);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetReference, 8 * 32);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetClass, 8 * 33);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetGlobalClass, 8 * 34);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetAlias, 8 * 35);
HOST_ABI_OFFSET(ActionDescriptorSuite, HasKeys, 8 * 36);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutIntegers, 8 * 37);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetIntegers, 8 * 38);
HOST_ABI_OFFSET(ActionDescriptorSuite, AsHandle, 8 * 39);
HOST_ABI_OFFSET(ActionDescriptorSuite, HandleToDescriptor, 8 * 40);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutZString, 8 * 41);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetZString, 8 * 42);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutData, 8 * 43);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetDataLength, 8 * 44);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetData, 8 * 45);
HOST_ABI_OFFSET(ActionDescriptorSuite, PutInteger64, 8 * 46);
HOST_ABI_OFFSET(ActionDescriptorSuite, GetInteger64, 8 * 47);

#endif  // 64-bit pointers

#undef HOST_ABI_OFFSET
