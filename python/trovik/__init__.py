"""trovik: messaging, LoRa and LoRaWAN, device I/O and field protocols.

The whole toolkit lives in the native extension ``trovik._native``.
"""
