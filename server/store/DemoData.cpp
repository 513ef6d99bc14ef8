#include "store/DemoData.h"

namespace vcserver {

namespace {

// Apostrophes appear as back-quotes, the way the control stores them.
const char* const kLongComment =
    "Quality agreement summary. Every shipment must carry the certificate of conformance "
    "for each lot, signed by the vendor`s quality manager, and the packing list must show "
    "the purchase order number, the line number and the lot number for every carton. "
    "Cartons over 50 lb are palletised and shrink-wrapped; mixed lots on one pallet are "
    "refused at the dock.\r\n"
    "Incoming inspection samples 5% of every lot. A lot with two or more defects in the "
    "sample is returned at the vendor`s expense and the next three lots are inspected in "
    "full. Corrective action requests are answered within ten working days; an open "
    "request older than thirty days puts new orders on hold until it is closed.\r\n"
    "Price changes need sixty days` written notice and apply only to orders placed after "
    "the notice period. Expedite fees are agreed in writing before the order ships.";

} // namespace

const DemoData& demoData() {
    static const DemoData data{
        {{1, "Accounts Payable"}, {2, "Purchasing"}, {3, "Receiving Dock"}, {12, "Warehouse"}},
        {{1, "General"}, {2, "Payment Terms"}, {3, "Quality"}, {4, "Shipping"}},
        {
            {"318", 4, 12, CalendarDate{2009, 4, 1}, std::nullopt, "Don`t ship on Fridays."},
            {"318", 2, 1, CalendarDate{2009, 1, 1}, CalendarDate{2009, 12, 31},
             "Net 30, 2% discount when paid within 10 days."},
            {"318", 1, 2, std::nullopt, std::nullopt,
             "Ask for Dana in inside sales; she knows our account."},
            {"318", 3, 3, CalendarDate{2008, 6, 15}, std::nullopt, kLongComment},
            {"V100", 4, 3, CalendarDate{2009, 3, 2}, CalendarDate{2009, 9, 30},
             "Deliveries to the north gate only; the south dock can`t take their trucks."},
            {"V100", 1, 1, std::nullopt, std::nullopt,
             "Invoices in EUR: use the rate of the invoice date (5 € minimum fee)."},
        }};
    return data;
}

} // namespace vcserver
