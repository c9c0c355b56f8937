# The test build's own product, beside those of the product table: a second
# product that proves the table, built, installed beside the others and run
# in the same prefix. Released into the build's test-products folder, never
# with the products that ship.

launcher_product(Velmora
    PRODUCTNAME velmora
    VERSION 1.0.0
    ICON Velmora.png
    UPGRADE_CODE 3B7F2C10-5E8D-4A61-9C27-D04E6B18A9F3
    EXTRA_FILE Velmora-README.txt)
