// The COM identity of tessel.dll: the class, its dual interface and the type
// library, exactly as resources/tessel.idl declares them (a test compares the
// two), and the entry points the installer calls.
// Constants only; any thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace vellum {

// {B728B937-51B7-4EA4-93C2-879CDFF8635E}
inline constexpr CLSID kTesselApiClassId = {
    0xB728B937, 0x51B7, 0x4EA4, {0x93, 0xC2, 0x87, 0x9C, 0xDF, 0xF8, 0x63, 0x5E}};
// {C9B6ADF5-2465-4296-9255-87E0BDC91302}
inline constexpr IID kTesselApiInterfaceId = {
    0xC9B6ADF5, 0x2465, 0x4296, {0x92, 0x55, 0x87, 0xE0, 0xBD, 0xC9, 0x13, 0x02}};
// {B045DA41-988A-4056-B2E0-0166B39921D4}
inline constexpr GUID kTesselLibraryId = {
    0xB045DA41, 0x988A, 0x4056, {0xB2, 0xE0, 0x01, 0x66, 0xB3, 0x99, 0x21, 0xD4}};
inline constexpr WORD kTesselLibraryMajor = 1;
inline constexpr WORD kTesselLibraryMinor = 0;

inline constexpr char kTesselProgId[] = "Ashgrove.TesselApi";
inline constexpr DISPID kReserveAutoGetDispId = 1;

// The dual interface: ReserveAutoGet follows the seven methods of IDispatch.
struct ITesselApi : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE ReserveAutoGet(BSTR url, BSTR referer, BSTR user_agent, BSTR cookie) = 0;
};

// The component file beside the installer and its registration entry points.
inline constexpr char kComponentFileName[] = "tessel.dll";
inline constexpr char kRegisterEntryPoint[] = "DllRegisterServer";
inline constexpr char kUnregisterEntryPoint[] = "DllUnregisterServer";
using RegistrationEntryPoint = HRESULT(STDAPICALLTYPE*)();

}  // namespace vellum
