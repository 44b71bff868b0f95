// Listings the tests read: the documented example and one written in
// another language, whose type texts are none of the running language's.
#pragma once

#include <string>

namespace qvx::test {

inline std::string ExampleListing() {
    return "1\nADAPTER0\n2\n0,Hard Disk,VENDOR,PRODUCT,1.00,ADAPTER0,2\n"
           "7,Host Adapter,MAKER,ADAPTER,1.0,ADAPTER0,0\n";
}

inline std::string ForeignListing() {
    return "1\nHBA\n3\n0,Festplatte,V,P,R,HBA,2\n6,Kein Ger\xE4t,,Kein Ger\xE4t,,HBA,0\n"
           "7,Hostadapter,M,HBA,1.0,HBA,0\n";
}

} // namespace qvx::test
