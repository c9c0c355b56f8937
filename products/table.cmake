# The product table: the one place a product is described. The build makes
# a launcher, an installer and a release for each entry (cmake/products.cmake
# says what each field is for; docs/maintaining.md, "Adding a product").

launcher_product(Tessalune
    PRODUCTNAME tessalune
    VERSION 1.0.0
    ICON Tessalune.png
    UPGRADE_CODE 655CAF59-8A28-4862-B7B1-29EE8A7A1FF5)
