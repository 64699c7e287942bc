// The German weekday and month names of date formatting. Text is Windows-1252:
// the a-umlaut of March is the single byte 0xE4.
#include "time/names.h"

namespace trovex {

const TimeNames germanTimeNames = {
    {"Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag"},
    // Three letters each, "Din" and "Fri" included, as printed time stamps have them.
    {"Son", "Mon", "Din", "Mit", "Don", "Fri", "Sam"},
    {"Januar", "Februar", "M\xE4rz", "April", "Mai", "Juni", "Juli", "August", "September", "Oktober",
     "November", "Dezember"},
    {"Jan", "Feb", "M\xE4r", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"},
    {"", ""},
    "AM",
    "PM",
    {},
};

}  // namespace trovex
