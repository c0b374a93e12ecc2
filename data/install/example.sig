--
Benchmarked with Kestrel 1.21
