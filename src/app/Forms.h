#pragma once
// Creates every window once, in the order the program relies on, and destroys them in
// reverse. The program's entry and the GUI tests both use these.
void CreateForms();
void DestroyForms();
