#pragma once
// The codes of a map's axes and cell values that configure the table editor.

namespace kv {

// What a map's X axis shows (None = no axis).
enum class XAxisType : int {
    None = 0,
    MAPRPMAXIS = 1,
    RPMAXIS = 2,
    COOLANTAXIS = 3,
    IGNCOOLANTAXIS = 4,
    IGNRPMAXIS1 = 5,
    IGNRPMAXIS2 = 6,
    IGNRPMAXIS3 = 7,
    EZFRPMAXIS = 9,
    EZFCOOLANTAXISIDLE = 11,
    EZFCOOLANTAXISCRUISE = 12,
    EZFCOOLANTAXISWOT = 13,
    EZFAIRTEMPAXISCRUISE = 14,
    EZFAIRTEMPAXISWOT = 15,
};

// What a map's Y axis shows (None = a map of one row).
enum class YAxisType : int {
    None = 0,
    MAPMAFAXIS = 1,
    MAPMAFAXIS_LH22 = 2, // stored as MAPMAFAXIS with the axis reversed
    IGNLOADAXIS = 8,
    EZFLOADAXIS = 10,
};

// How a stored cell is shown (FuelValue: as stored plus the offset).
enum class DataType : int {
    FuelValue = 0,
    DATAIGNABS = 1,
    DATAIGNREL = 2,
    DATAIGNDEGS = 3,
    DATAIGNABSEZF = 4,
    DATAIGNRELEZF = 5,
};

} // namespace kv
