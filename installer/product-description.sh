# shellcheck shell=bash
# The one reader, in shell, of a product's description: the "key=value" lines
# the build writes of a product from the product table and the family
# (build/windows-x86/products/NAME/NAME.product; installer/CMakeLists.txt
# writes it). components.py's read_product() is its reader in Python.
#   read_product_description FILE   sets product_KEY for every key
#   product_value FILE KEY          prints one value

# The keys the build writes, each a product_KEY once read.
# shellcheck disable=SC2034
product_name="" product_productname="" product_executable="" product_version="" product_upgrade_code=""
# shellcheck disable=SC2034
product_manufacturer="" product_releases_address="" product_host="" product_host_folder="" product_error_title=""
# shellcheck disable=SC2034
product_launcher="" product_components="" product_release="" product_kit=""
read_product_description() {
    local line key
    [ -f "$1" ] || { echo "no product description at $1" >&2; return 1; }
    while IFS= read -r line || [ -n "$line" ]; do
        key=${line%%=*}
        [[ $line == *=* && $key =~ ^[a-z_]+$ ]] || continue
        printf -v "product_$key" '%s' "${line#*=}"
    done <"$1"
}

product_value() {
    (
        read_product_description "$1" || exit 1
        value="product_$2"
        echo "${!value-}"
    )
}
