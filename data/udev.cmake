# The USB access rule for the unit's vendor and product ID, placed beside the
# executables (the programs name it in their "cannot open" message) and
# installed into lib/udev/rules.d/.
function(vrx4_usb_id_text value out)
  string(REGEX REPLACE "^0[xX]" "" hex "${value}")
  string(TOLOWER "${hex}" hex)
  string(LENGTH "${hex}" n)
  while(n LESS 4)
    string(PREPEND hex "0")
    math(EXPR n "${n} + 1")
  endwhile()
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()
vrx4_usb_id_text("${VRX4_UNIT_VENDOR_ID}" VRX4_RULE_VENDOR)
vrx4_usb_id_text("${VRX4_UNIT_PRODUCT_ID}" VRX4_RULE_PRODUCT)
set(VRX4_USB_RULE ${VRX4_OUT_DIR}/60-vrx4.rules)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/60-vrx4.rules.in ${VRX4_USB_RULE} @ONLY)
