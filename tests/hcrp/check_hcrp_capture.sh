#!/bin/sh
# Runs a whole job against the stand-in printer with its capture on, then decodes the capture
# with tshark as HCRP. Every control PDU must be decoded with its PDU ID and transaction ID,
# every response with its status, each request answered once, and no packet may be flagged
# malformed or with a warning.
#   check_hcrp_capture.sh <wine-run> <job program> <working directory>
set -eu
run=$1
program=$2
cd "$3"
rm -rf hcrp_wire hcrp_wire.expect hcrp_wire.env hcrp_wire.fields
"$run" "$program" --gtest_color=no
# The stand-in writes one capture per connection of a printer into hcrp_wire/.
set -- hcrp_wire/*.pcap
if [ "$#" -ne 1 ] || [ ! -s "$1" ]; then
    echo "expected one capture in hcrp_wire/, found: $*"
    exit 1
fi
capture=$1
# CONTROL_PSM, DATA_PSM and REQUESTS (the control requests the job sent), from the program.
tr -d "\r" <hcrp_wire.expect >hcrp_wire.env
. ./hcrp_wire.env

set -- -r "$capture" \
    -d "btl2cap.psm==$CONTROL_PSM,bthcrp" -d "btl2cap.psm==$DATA_PSM,bthcrp" \
    -o "bthcrp.hcrp.control.psm:$CONTROL_PSM" -o "bthcrp.hcrp.data.psm:$DATA_PSM" \
    -o bthcrp.hcrp.force_client:yes

flagged=$(tshark "$@" -Y "_ws.malformed || _ws.expert.severity >= warning")
if [ -n "$flagged" ]; then
    echo "packets flagged malformed or with a warning:"
    echo "$flagged"
    exit 1
fi

tshark "$@" -Y "bthcrp.control.pdu_id" -T fields -E separator=, -e frame.number \
    -e hci_h4.direction -e bthcrp.control.pdu_id -e bthcrp.control.transaction_id \
    -e bthcrp.control.status 2>/dev/null >hcrp_wire.fields
echo "decoded control PDUs (frame, direction, PDU ID, transaction ID, status):"
cat hcrp_wire.fields

awk -F, -v expected="$REQUESTS" '
    $3 == "" || $4 == "" { print "frame " $1 ": PDU ID or transaction ID not decoded"; bad = 1; next }
    $2 == "0x00" {
        if ($5 != "") { print "frame " $1 ": request decoded with a status"; bad = 1 }
        requests++; asked[$3 "/" $4]++; seen[$3] = 1; next
    }
    {
        if ($5 == "") { print "frame " $1 ": response without a status"; bad = 1 }
        responses++; answered[$3 "/" $4]++
    }
    END {
        if (requests != expected) { print "requests decoded: " requests ", sent: " expected; bad = 1 }
        if (responses != expected) { print "responses decoded: " responses ", expected: " expected; bad = 1 }
        for (key in asked) {
            if (answered[key] != asked[key]) { print "request " key " answered " answered[key] + 0 " times"; bad = 1 }
        }
        split("0x0001 0x0002 0x0005 0x0006", ids, " ")
        for (i in ids) {
            if (!(ids[i] in seen)) { print "no request with PDU ID " ids[i]; bad = 1 }
        }
        exit bad
    }' hcrp_wire.fields
echo "capture decoded: $REQUESTS requests and their responses, nothing flagged"
