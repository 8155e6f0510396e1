// Placeholder until the HCRP control protocol is built.
#include "hcrp/hcrp_connection.h"

int HcrpConnection::Write(const uint8_t*, uint32_t, uint32_t*) { return 0; }
int HcrpConnection::Read(uint8_t*, uint32_t, uint32_t*) { return 0; }
uint16_t HcrpConnection::WaitResponse(const uint8_t*, uint32_t, uint8_t*, uint16_t* length) {
    *length = 0;
    return RESPONSE_MALFORMED;
}
int HcrpConnection::CreditGrant(uint32_t) { return 0; }
int HcrpConnection::CreditRequest() { return 0; }
int HcrpConnection::GetLPTStatus(uint8_t*) { return 0; }
int HcrpConnection::Get1284ID(uint8_t*, uint32_t, uint16_t* totalLength, uint32_t* copied) {
    *totalLength = 0;
    *copied = 0;
    return 0;
}
