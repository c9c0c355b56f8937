# The family: what every product of the product tables shares. The build
# reads it (cmake/family.cmake says what each value is for) and writes the
# header the launcher, the bare stub and the tests take these values from.

launcher_family(
    MANUFACTURER Orvanel
    RELEASES_ADDRESS https://downloads.orvanel.example/
    SUPPORT_ADDRESS https://orvanel.example/support/
    HOME_ADDRESS https://orvanel.example/
    HOST_FOLDER Orvanel
    HOST_FILE Sonvik.exe
    ERROR_TITLE "Invalid SONVIK installation!"
    PRODUCT_VARIABLE PRODUCTNAME)
