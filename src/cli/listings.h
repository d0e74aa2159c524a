#pragma once

// Informational listings on standard output; each line ends in a line feed.
void print_platforms();
void print_automation_actions();
void print_brand_kit();
