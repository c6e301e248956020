#pragma once

// Addresses outside the programs that both of them open.
namespace Links {

// The web map search that shows a contact's town; it takes the query keys the form sends.
constexpr char MapHost[] = "maps.google.com";
constexpr char MapPath[] = "/maps";
constexpr char MapQuery[] = "hl=zh-CN&tab=wl&f=q&source=s_q&geocode=&q=";

} // namespace Links
